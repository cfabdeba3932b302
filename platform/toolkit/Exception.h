// SPDX-License-Identifier: GPL-3.0-or-later
// The one exception base of the program. Every component raises a class of
// its own derived from it (EACMOut, ESocketError, …); the dispatch points of
// the toolkit catch it and show its message in the application's error box.
#pragma once

#include <QString>
#include <exception>
#include <string>

namespace platform {

class Exception : public std::exception {
public:
    explicit Exception(QString message) : m_message(std::move(message)), m_utf8(m_message.toStdString()) {}
    explicit Exception(const char* message) : Exception(QString::fromUtf8(message)) {}

    const QString& Message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

// Raised by the toolkit's lists for an index that addresses no item:
// "List index out of bounds (%d)".
class EListError : public Exception {
public:
    using Exception::Exception;
};

// Raised by the runtime's integer conversion and similar helpers.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

} // namespace platform
