#include "settings/TypingSounds.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/CharacterSet.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace lumora {

TypingSounds::TypingSounds(QObject* parent) : QObject(parent) {}

TypingSounds::~TypingSounds() { qDeleteAll(m_playingSounds); }

const std::array<QString, 4>& TypingSounds::soundNames()
{
    static const std::array<QString, 4> names{QStringLiteral("back"), QStringLiteral("return"),
                                              QStringLiteral("space"), QStringLiteral("typing")};
    return names;
}

QString TypingSounds::soundName(Range replacing, QStringView replacement)
{
    const auto& names = soundNames();
    if (replacing.length > 0) return names[0];
    if (std::any_of(replacement.begin(), replacement.end(), [](QChar c) { return text::isNewline(c); }))
        return names[1];
    if (std::any_of(replacement.begin(), replacement.end(), [](QChar c) { return text::isWhitespace(c); }))
        return names[2];
    return names[3];
}

void TypingSounds::loadSounds()
{
    for (const QString& name : soundNames()) {
        const QByteArray data = Bundle::resourceData(name, QStringLiteral("wav"));
        auto sound = WaveSound::parse(data);
        if (!sound) {
            std::fprintf(stderr, "Lumora: the bundled sound %s.wav can't be played; the installation is damaged.\n",
                         qPrintable(name));
            std::abort();
        }
        m_soundData.insert(name, data);
        m_sounds.insert(name, std::move(*sound));
    }
}

void TypingSounds::releaseSounds()
{
    m_soundData.clear();
    m_sounds.clear();
}

AudioPlayer* TypingSounds::typewriterSound(Range replacing, QStringView replacement)
{
    const auto sound = m_sounds.constFind(soundName(replacing, replacement));
    if (sound == m_sounds.constEnd()) return nullptr;
    auto* player = new AudioPlayer(*sound);
    m_playingSounds.insert(player);
    connect(player, &AudioPlayer::finished, this, [this, player](bool) {
        m_playingSounds.remove(player);
        player->deleteLater();
    });
    return player;
}

} // namespace lumora
