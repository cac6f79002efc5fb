#pragma once

// Test helpers for where the programs keep their files: environment variables set for a while,
// and a folder made really read-only.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <utility>

#include <sys/mount.h>

// Environment variables set (an empty text: removed) for the object's life, then restored.
class EnvironmentOverride {
public:
    EnvironmentOverride(std::initializer_list<std::pair<const char *, QString>> values)
    {
        for (const auto &[name, value] : values) {
            m_saved.append({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
            if (value.isEmpty())
                qunsetenv(name);
            else
                qputenv(name, QFile::encodeName(value));
        }
    }
    ~EnvironmentOverride()
    {
        for (const Saved &saved : m_saved) {
            if (saved.wasSet)
                qputenv(saved.name, saved.value);
            else
                qunsetenv(saved.name);
        }
    }
    EnvironmentOverride(const EnvironmentOverride &) = delete;
    EnvironmentOverride &operator=(const EnvironmentOverride &) = delete;

private:
    struct Saved {
        const char *name;
        bool wasSet;
        QByteArray value;
    };
    QList<Saved> m_saved;
};

// A folder made really read-only, for root as well (tests run as root, who passes every
// permission check): a read-only bind mount over itself, undone when the object goes.
class ReadOnlyFolder {
public:
    QString reason;
    bool make(const QString &folder)
    {
        const QByteArray path = QFile::encodeName(folder);
        if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0) {
            reason = QStringLiteral("cannot bind-mount %1: %2").arg(folder, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        m_path = path;
        if (::mount(nullptr, path.constData(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            reason = QStringLiteral("cannot make %1 read-only: %2").arg(folder, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        return true;
    }
    ~ReadOnlyFolder()
    {
        if (!m_path.isEmpty())
            ::umount2(m_path.constData(), MNT_DETACH);
    }

private:
    QByteArray m_path;
};

