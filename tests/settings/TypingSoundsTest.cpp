#include "settings/Settings.h"

#include "platform/AudioPlayer.h"
#include "platform/Bundle.h"
#include "SettingsTestSupport.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace lumora;
using namespace lumora::test;

TEST(TypingSounds, TheSoundFollowsTheKindOfEdit)
{
    const struct {
        Range range;
        const char16_t* replacement;
        const char* sound;
    } cases[] = {
        {Range(3, 0), u"a", "typing"},          {Range(3, 0), u"\U0001F600", "typing"},
        {Range(3, 0), u"", "typing"},           {Range(3, 0), u"two words", "space"},
        {Range(3, 0), u"\t", "space"},          {Range(3, 0), u"\u2029", "return"},
        {Range(3, 0), u"line\nand space", "return"}, {Range(3, 1), u"", "back"},
        {Range(3, 2), u"x\n", "back"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Settings::typewriterSoundName(c.range, QStringView(c.replacement)), QLatin1String(c.sound))
            << QString::fromUtf16(c.replacement).toStdString();
}

TEST(TypingSounds, TogglingLoadsAndReleasesTheSoundsAndWritesThePreference)
{
    const auto store = makeStore("sounds-toggle");
    Settings s(store.get());
    EXPECT_TRUE(s.soundData.isEmpty());
    EXPECT_EQ(s.typewriterSound(Range(0, 0), QStringLiteral("a")), nullptr);

    s.toggleTypewriterSounds();
    EXPECT_TRUE(s.isTypewriterSoundsEnabled);
    EXPECT_TRUE(store->boolValue(QStringLiteral("typewriterSounds")));
    ASSERT_EQ(s.soundData.size(), 4);
    for (const QString& name : Settings::soundNames())
        EXPECT_EQ(s.soundData.value(name), Bundle::resourceData(name, QStringLiteral("wav")));

    s.toggleTypewriterSounds();
    EXPECT_TRUE(s.soundData.isEmpty());
    EXPECT_FALSE(store->object(QStringLiteral("typewriterSounds")).toBool());

    // Stored on: a new settings object starts with the sounds loaded.
    s.toggleTypewriterSounds();
    Settings again(store.get());
    EXPECT_EQ(again.soundData.size(), 4);
}

TEST(TypingSounds, DamagedWaveDataIsRefused)
{
    const QByteArray good = Bundle::resourceData(QStringLiteral("typing"), QStringLiteral("wav"));
    QByteArray badFormat = good;
    badFormat[20] = 2; // ADPCM
    QByteArray longChunk = good;
    longChunk[40] = char(0xFF); // the data chunk claims more bytes than there are
    longChunk[41] = char(0xFF);
    for (const QByteArray& bytes : {QByteArray(), QByteArray("RIFF"), good.left(30), badFormat, longChunk,
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
        EXPECT_TRUE(s.playingSounds.contains(player));
        player->play();
        players << player;
    }
    QTRY_VERIFY_WITH_TIMEOUT(s.playingSounds.isEmpty(), 5000);
    qInstallMessageHandler(previous);
    if (!AudioPlayer::hasAudioOutput()) {
        EXPECT_EQ(g_messages, 0);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto& player : players) EXPECT_TRUE(player.isNull());
}
