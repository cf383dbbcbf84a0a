#pragma once

// Tests of web views skip, with a message, only where Qt WebEngine cannot
// start at all. (Header only: the test programs that use it link WebEngine.)
#include "support/Patience.h"

#include <QSignalSpy>
#include <QWebEnginePage>

#include <gtest/gtest.h>

namespace lumora::test {

// Whether a bare page of WebEngine's own loads here (checked once).
inline bool webEngineStarts()
{
    static const bool starts = [] {
        QWebEnginePage page;
        QSignalSpy finished(&page, &QWebEnginePage::loadFinished);
        page.setHtml(QStringLiteral("<p>ready</p>"));
        return finished.wait(patience) && finished.first().first().toBool();
    }();
    return starts;
}

} // namespace lumora::test

#define SKIP_WITHOUT_WEB_ENGINE()                                                                                  \
    if (!lumora::test::webEngineStarts())                                                                          \
    GTEST_SKIP() << "Qt WebEngine cannot start here (a bare page does not load)"
