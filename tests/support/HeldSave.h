#pragma once

#include "support/TestEnvironment.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace lumora::test {

// Another Lumora's write of target with the bytes of bytesFile, in a child
// process (the "write-held-at" role), held at a step of the write (a slow
// disk) until it is told to go on: it says "holding", then "saved" or
// "failed …". on, when given, is the file whose step is held (a backup copy,
// say) instead of target's. Told to go on at the latest when it goes.
struct HeldSave {
    QProcess process;
    bool released = false;

    HeldSave(const QString& target, const char* step, const QString& bytesFile, const QString& on = {})
    {
        QStringList arguments{target, step, bytesFile};
        if (!on.isEmpty()) arguments << on;
        EXPECT_TRUE(startChild(process, "write-held-at", arguments, childEnvironmentWithOwnRuntime()));
    }
    ~HeldSave()
    {
        release();
        if (!process.waitForFinished(patience)) process.kill();
    }
    QByteArray said() { return readLineFrom(process); }
    void release()
    {
        if (released) return;
        released = true;
        process.write("go\n");
        process.waitForBytesWritten();
    }
};

} // namespace lumora::test
