#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>

namespace lumora {

// The application's own files, compiled in under :/resources, and its
// identity.
namespace Bundle {

QString name();       // "Lumora"
int buildNumber();    // grows with every release that migrates preferences
// The program's web page (set when building); empty when it has none.
QUrl website();

// ":/resources/<name>.<extension>" when it exists, else empty.
QString resourcePath(const QString& name, const QString& extension);
QUrl resourceUrl(const QString& name, const QString& extension);
// The whole resource. A missing resource is a packaging fault: the process
// stops with a message naming it.
QByteArray resourceData(const QString& name, const QString& extension);
// Same, without stopping: empty when missing.
bool hasResource(const QString& name, const QString& extension);

} // namespace Bundle

// The process-wide log level: "-log <0...3>" among the launch arguments,
// else 0. Read once.
std::uint8_t logLevel();
// Parses a level from arguments as given (exposed for tests).
std::uint8_t parseLogLevel(const QStringList& arguments);

} // namespace lumora
