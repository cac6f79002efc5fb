#include "CameraTable.h"

#include "SettingsKeys.h"

QString CameraTable::reelName(int camera) const
{
    return valid(camera) ? m_reelNames[static_cast<size_t>(camera - 1)] : QString();
}

QString CameraTable::editType(int camera) const
{
    return valid(camera) ? m_editTypes[static_cast<size_t>(camera - 1)] : QString();
}

void CameraTable::setReelName(int camera, const QString &name)
{
    if (valid(camera))
        m_reelNames[static_cast<size_t>(camera - 1)] = name;
}

void CameraTable::setEditType(int camera, const QString &type)
{
    if (valid(camera))
        m_editTypes[static_cast<size_t>(camera - 1)] = type;
}

QString CameraTable::reelNameKey(int camera)
{
    return SettingsKeys::reelName(camera);
}

QString CameraTable::editTypeKey(int camera)
{
    return SettingsKeys::editType(camera);
}

CameraTable CameraTable::read(const std::function<QString(const QString &key)> &getString)
{
    CameraTable table;
    for (int camera = 1; camera <= CameraCount; ++camera)
        table.setReelName(camera, getString(reelNameKey(camera)));
    for (int camera = 1; camera <= CameraCount; ++camera)
        table.setEditType(camera, getString(editTypeKey(camera)));
    return table;
}

void CameraTable::write(const std::function<void(const QString &key, const QString &value)> &setString) const
{
    for (int camera = 1; camera <= CameraCount; ++camera)
        setString(reelNameKey(camera), reelName(camera));
    for (int camera = 1; camera <= CameraCount; ++camera)
        setString(editTypeKey(camera), editType(camera));
}
