#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QObject>

#include <memory>
#include <optional>

class QAudioSink;
class QBuffer;

namespace lumora {

// The samples of a WAV file: its format and its PCM data (a part of the
// file's bytes, shared, not copied).
struct WaveSound {
    QAudioFormat format;
    QByteArray samples;

    // Integer PCM of 8, 16 or 32 bits, or 32-bit float, in a RIFF/WAVE file
    // (plain or extensible format chunk); none for anything else or a damaged
    // file.
    static std::optional<WaveSound> parse(const QByteArray& wav);
};

// Plays one short sound held in memory, once.
//
// Machines without sound are normal: when there is no audio output the
// player stays silent, and when the output refuses the sound it stops; both
// without a message, and both still report finished(), on a later turn of
// the main thread. Main thread only.
class AudioPlayer : public QObject {
    Q_OBJECT

public:
    explicit AudioPlayer(WaveSound sound, QObject* parent = nullptr);
    ~AudioPlayer() override;

    // Whether the machine has an audio output at all (the device list is
    // kept current by Qt; asking costs nothing after the first time).
    static bool hasAudioOutput();

    // Starts playing; a second call does nothing.
    void play();
    bool isPlaying() const { return m_playing; }

signals:
    // Playback ended: the sound played to its end (true), or it could not be
    // played (false).
    void finished(bool successfully);

private:
    void finish(bool successfully);

    WaveSound m_sound;
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QAudioSink> m_sink;
    bool m_started = false;
    bool m_playing = false;
    bool m_finished = false;
};

} // namespace lumora
