#include "settings/Settings.h"

#include "SettingsTestSupport.h"
#include "platform/application/AudioPlayer.h"
#include "platform/foundation/Bundle.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

TEST(TypingSounds, TheSoundFollowsTheKindOfEdit)
{
    struct Case {
        Range range;
        QString replacement;
        const char* sound;
    };
    const Case cases[] = {
        {Range(3, 0), "a", "typing"},
        {Range(3, 0), " ", "space"},
        {Range(3, 0), "\t", "space"},
        {Range(3, 0), "\n", "return"},
        {Range(3, 0), "\u2029", "return"},
        {Range(3, 0), "two words", "space"},
        {Range(3, 0), "line\nand space", "return"},
        {Range(3, 1), "", "back"},
        {Range(3, 2), "x", "back"},
        {Range(3, 0), "", "typing"},
        {Range(3, 0), "\U0001F600", "typing"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Settings::typewriterSoundName(c.range, c.replacement), QLatin1String(c.sound))
            << qPrintable(c.replacement);
}

TEST(TypingSounds, TogglingLoadsAndReleasesTheSoundsAndWritesThePreference)
{
    const auto store = makeStore("sounds-toggle");
    Settings s(store.get());
    EXPECT_TRUE(s.soundData().isEmpty());
    EXPECT_EQ(s.typewriterSound(Range(0, 0), QStringLiteral("a")), nullptr);

    s.toggleTypewriterSounds();
    EXPECT_TRUE(s.isTypewriterSoundsEnabled());
    EXPECT_TRUE(store->boolValue(QStringLiteral("typewriterSounds")));
    ASSERT_EQ(s.soundData().size(), 4);
    for (const QString& name : Settings::soundNames())
        EXPECT_EQ(s.soundData().value(name), Bundle::resourceData(name, QStringLiteral("wav")));

    s.toggleTypewriterSounds();
    EXPECT_TRUE(s.soundData().isEmpty());
    EXPECT_FALSE(store->object(QStringLiteral("typewriterSounds")).toBool());

    // Stored on: a new settings object starts with the sounds loaded.
    s.toggleTypewriterSounds();
    Settings again(store.get());
    EXPECT_EQ(again.soundData().size(), 4);
}

TEST(TypingSounds, TheBundledSoundsAreWaveDataAndDamagedDataIsRefused)
{
    for (const QString& name : Settings::soundNames()) {
        const auto sound = WaveSound::parse(Bundle::resourceData(name, QStringLiteral("wav")));
        ASSERT_TRUE(sound) << qPrintable(name);
        EXPECT_GT(sound->samples.size(), 0);
        EXPECT_EQ(sound->samples.size() % sound->format.bytesPerFrame(), 0);
    }
    const QByteArray good = Bundle::resourceData(QStringLiteral("typing"), QStringLiteral("wav"));
    QByteArray adpcm = good, longChunk = good;
    adpcm[20] = 2;
    longChunk[40] = longChunk[41] = char(0xFF); // the data chunk claims more bytes than there are
    for (const QByteArray& bytes : {QByteArray(), QByteArray("RIFF"), good.left(30), adpcm, longChunk,
                                    QByteArray("not a sound at all, just some text")})
        EXPECT_FALSE(WaveSound::parse(bytes));
}

namespace {
int g_messages = 0;
void countMessage(QtMsgType, const QMessageLogContext&, const QString&) { ++g_messages; }
} // namespace

// The tests run without an audio device: every keystroke's player must stay
// silent, finish on its own, say nothing and leave nothing behind.
TEST(TypingSounds, WithoutAnAudioDevicePlayersFinishSilently)
{
    Settings s(nullptr);
    s.toggleTypewriterSounds();
    // Qt may report once, at its first look for devices, that there is no
    // sound server; after that, keystrokes are silent in every sense.
    (void)AudioPlayer::hasAudioOutput();
    g_messages = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countMessage);
    QList<QPointer<AudioPlayer>> players;
    for (int i = 0; i < 20; ++i) {
        AudioPlayer* player = s.typewriterSound(Range(i, 0), QStringLiteral("a"));
        ASSERT_NE(player, nullptr);
        EXPECT_TRUE(s.playingSounds().contains(player));
        player->play();
        players << player;
    }
    QTRY_VERIFY_WITH_TIMEOUT(s.playingSounds().isEmpty(), 5000);
    qInstallMessageHandler(previous);
    if (!AudioPlayer::hasAudioOutput()) {
        EXPECT_EQ(g_messages, 0);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto& player : players) EXPECT_TRUE(player.isNull());
}
