// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contract.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

// Receives a host's PropertiesChanged signals, from whoever sends them at the host's path.
class ChangeListener : public QObject
{
    Q_OBJECT

public:
    bool listen(QDBusConnection connection)
    {
        return connection.connect(QString(), QString::fromLatin1(contract::objectPath),
                                  QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"),
                                  this, SLOT(changed(QString, QVariantMap, QStringList)));
    }

    QList<QVariantMap> changes;

public slots:
    void changed(const QString &, const QVariantMap &properties, const QStringList &) { changes.append(properties); }
};
