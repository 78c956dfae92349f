// SPDX-License-Identifier: GPL-3.0-or-later
#include "stderrcapture.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

StderrCapture::StderrCapture()
{
    char name[] = "/tmp/palvo-stderr-XXXXXX";
    m_file = mkstemp(name);
    if (m_file < 0)
        std::abort();
    unlink(name);
    std::fflush(stderr);
    m_saved = dup(STDERR_FILENO);
    dup2(m_file, STDERR_FILENO);
}

StderrCapture::~StderrCapture()
{
    restore();
}

QByteArray StderrCapture::text()
{
    restore();
    return m_text;
}

void StderrCapture::restore()
{
    if (m_saved < 0)
        return;
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    m_saved = -1;
    char buffer[4096];
    lseek(m_file, 0, SEEK_SET);
    for (ssize_t n; (n = read(m_file, buffer, sizeof buffer)) > 0;)
        m_text.append(buffer, n);
    close(m_file);
}
