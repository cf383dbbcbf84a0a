#include "settings/TypingSounds.h"

#include "settings/Settings.h"

#include "SettingsTestSupport.h"
#include "platform/application/AudioPlayer.h"
#include "platform/foundation/Bundle.h"
#include "support/Patience.h"

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
        EXPECT_EQ(TypingSounds::soundName(c.range, c.replacement), QLatin1String(c.sound))
            << qPrintable(c.replacement);
}

TEST(TypingSounds, TogglingLoadsAndReleasesTheSoundsAndWritesThePreference)
{
    const auto store = makeStore("sounds-toggle");
    Settings s(store.get());
    const TypingSounds& sounds = s.typingSounds();
    EXPECT_TRUE(sounds.soundData().isEmpty());
    EXPECT_EQ(s.typingSounds().typewriterSound(Range(0, 0), QStringLiteral("a")), nullptr);
    Announced announced(s);

    s.toggleTypewriterSounds();
    EXPECT_TRUE(s.isTypewriterSoundsEnabled());
    EXPECT_TRUE(store->boolValue(QStringLiteral("typewriterSounds")));
    ASSERT_EQ(sounds.soundData().size(), 4);
    for (const QString& name : TypingSounds::soundNames())
        EXPECT_EQ(sounds.soundData().value(name), Bundle::resourceData(name, QStringLiteral("wav")));

    s.toggleTypewriterSounds();
    EXPECT_TRUE(sounds.soundData().isEmpty());
    EXPECT_FALSE(sounds.isLoaded());
    EXPECT_FALSE(store->object(QStringLiteral("typewriterSounds")).toBool());
    EXPECT_EQ(announced.names, (QStringList{"typewriterSoundsChanged", "typewriterSoundsChanged"}));

    // Stored on: a new settings object starts with the sounds loaded.
    s.toggleTypewriterSounds();
    Settings again(store.get());
    EXPECT_EQ(again.typingSounds().soundData().size(), 4);
}

TEST(TypingSounds, TheBundledSoundsAreWaveDataAndDamagedDataIsRefused)
{
    for (const QString& name : TypingSounds::soundNames()) {
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
    TypingSounds s;
    s.loadSounds();
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return s.playingSounds().isEmpty(); }, test::patience));
    qInstallMessageHandler(previous);
    if (!AudioPlayer::hasAudioOutput()) {
        EXPECT_EQ(g_messages, 0);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto& player : players) EXPECT_TRUE(player.isNull());
}

TEST(TypingSounds, ReleasingStopsNewPlayersAndThoseLeftGoWithTheSounds)
{
    QList<QPointer<AudioPlayer>> players;
    {
        TypingSounds sounds;
        sounds.loadSounds();
        EXPECT_TRUE(sounds.isLoaded());
        players << sounds.typewriterSound(Range(0, 1), QString()) << sounds.typewriterSound(Range(0, 0), u"\n");
        sounds.releaseSounds();
        EXPECT_EQ(sounds.typewriterSound(Range(0, 0), QStringLiteral("a")), nullptr);
        // The players already made are the caller's to start: they stay.
        EXPECT_EQ(sounds.playingSounds().size(), 2);
        for (const auto& player : players) EXPECT_FALSE(player.isNull());
    }
    for (const auto& player : players) EXPECT_TRUE(player.isNull());
}

// The end of playback is reported on a later turn; a player deleted before
// then reports nothing, and nothing runs on it afterwards.
TEST(TypingSounds, APlayerDeletedBeforeItsReportIsForgotten)
{
    auto sound = WaveSound::parse(Bundle::resourceData(QStringLiteral("typing"), QStringLiteral("wav")));
    ASSERT_TRUE(sound);
    int reports = 0;
    QObject counting;
    auto* player = new AudioPlayer(*sound);
    QObject::connect(player, &AudioPlayer::finished, &counting, [&] { ++reports; });
    player->play();
    delete player;
    AudioPlayer other(*sound); // a witness that the later turn came
    bool otherFinished = false;
    QObject::connect(&other, &AudioPlayer::finished, &counting, [&] { otherFinished = true; });
    other.play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return otherFinished; }, test::patience));
    EXPECT_EQ(reports, 0);
}
