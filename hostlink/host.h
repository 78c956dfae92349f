// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

// The host application as the panel sees it: members reached by name at every use.
// Every operation throws HostFailure when it fails. Releasing the host is destroying it.
class Host
{
public:
    virtual ~Host() = default;

    // Reads a value by name. An invalid QVariant is an empty value.
    virtual QVariant read(const QString &name) = 0;

    // Calls a method by name with one text argument; what it returns is ignored.
    virtual void call(const QString &method, const QString &text) = 0;
};

// Finds the running host, never starting one. Throws HostFailure when none runs.
using HostAttach = std::function<std::unique_ptr<Host>()>;
