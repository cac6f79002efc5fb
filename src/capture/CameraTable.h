#pragma once

#include <QString>

#include <array>
#include <functional>

// The camera table: a reel name and an edit type for each of the 16 camera inputs. Camera n
// (1 to 16) is the camera whose bit has the value 2^(n-1) in the camera state. Both texts are free
// text of any length, empty allowed. In the settings they are "reelname<n>" and "edittype<n>".
class CameraTable {
public:
    static constexpr int CameraCount = 16;

    // camera: 1 to 16; other numbers read as empty and are not stored.
    QString reelName(int camera) const;
    QString editType(int camera) const;
    void setReelName(int camera, const QString &name);
    void setEditType(int camera, const QString &type);

    static QString reelNameKey(int camera);
    static QString editTypeKey(int camera);

    // Reads the 32 values through a settings reader, in the order the settings are read: reel
    // names 1 to 16, then edit types 1 to 16.
    static CameraTable read(const std::function<QString(const QString &key)> &getString);
    // Writes all 32 values (reel names first), changed or not.
    void write(const std::function<void(const QString &key, const QString &value)> &setString) const;

    friend bool operator==(const CameraTable &, const CameraTable &) = default;

private:
    static bool valid(int camera) { return camera >= 1 && camera <= CameraCount; }

    std::array<QString, CameraCount> m_reelNames;
    std::array<QString, CameraCount> m_editTypes;
};
