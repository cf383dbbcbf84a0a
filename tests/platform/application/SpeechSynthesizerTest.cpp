#include "platform/application/SpeechSynthesizer.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace lumora;

TEST(SpeechSynthesizer, WithoutAWorkingEngineThereIsNoSpeechAndNoError)
{
    // No engine at all, then only one that does not exist: no speech, and
    // asking to speak does nothing.
    for (const QStringList& engines : {QStringList(), QStringList{QStringLiteral("no-such-engine")}}) {
        SpeechSynthesizer::setEngineOrder(engines);
        SpeechSynthesizer& speech = SpeechSynthesizer::shared();
        QSignalSpy changes(&speech, &SpeechSynthesizer::speakingChanged);
        EXPECT_FALSE(speech.isAvailable());
        speech.speak(QStringLiteral("Hello"));
        speech.stop();
        EXPECT_FALSE(speech.isSpeaking());
        EXPECT_EQ(changes.count(), 0);
    }
    SpeechSynthesizer::setEngineOrder(std::nullopt);
}
