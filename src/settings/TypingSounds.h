#pragma once

#include "platform/application/AudioPlayer.h"
#include "platform/foundation/Range.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringView>

#include <array>

namespace lumora {

// The typing sounds: four short bundled sounds, one for each kind of edit,
// read once when they are turned on and kept in memory, so that a keystroke
// only makes a player over data already held. Players of quick keystrokes
// overlap and play together; each is deleted when it has finished.
//
// Main thread only.
class TypingSounds : public QObject {
    Q_OBJECT
public:
    explicit TypingSounds(QObject* parent = nullptr);
    // Players still sounding stop and go with it.
    ~TypingSounds() override;

    // The sounds, each a bundled "<name>.wav": "back", "return", "space",
    // "typing", in this order.
    static const std::array<QString, 4>& soundNames();
    // The name of the sound for replacing range by replacement: "back" when
    // the range is not empty, else "return" when the replacement holds a line
    // break, else "space" when it holds whitespace, else "typing".
    static QString soundName(Range replacing, QStringView replacement);

    // Reads the four sound files, replacing what was read before. A sound
    // that is missing from the bundle or cannot be played stops the program:
    // the installation is damaged.
    void loadSounds();
    // Lets go of the sound data; players already sounding finish.
    void releaseSounds();
    bool isLoaded() const { return !m_sounds.isEmpty(); }

    // The bytes of every sound file while loaded; empty otherwise.
    const QHash<QString, QByteArray>& soundData() const { return m_soundData; }
    // The players made by typewriterSound that have not finished yet; each
    // leaves the set, and is deleted, when its playback ends.
    const QSet<AudioPlayer*>& playingSounds() const { return m_playingSounds; }

    // A new player of the sound for that edit, not yet playing, held in
    // playingSounds; the caller starts it once the edit is made. Only while
    // loaded (nullptr otherwise). Silent on a machine without sound.
    AudioPlayer* typewriterSound(Range replacing, QStringView replacement);

private:
    QHash<QString, QByteArray> m_soundData;
    QHash<QString, WaveSound> m_sounds; // m_soundData parsed
    QSet<AudioPlayer*> m_playingSounds;
};

} // namespace lumora
