#include "platform/application/AudioPlayer.h"


#include <QAudioDevice>
#include <QAudioSink>
#include <QBuffer>
#include <QMediaDevices>

namespace lumora {

namespace {

quint32 le32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

quint16 le16(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return quint16(u[0] | u[1] << 8);
}

} // namespace

std::optional<WaveSound> WaveSound::parse(const QByteArray& wav)
{
    const char* bytes = wav.constData();
    const qsizetype size = wav.size();
    if (size < 12 || memcmp(bytes, "RIFF", 4) != 0 || memcmp(bytes + 8, "WAVE", 4) != 0) return std::nullopt;

    std::optional<QAudioFormat> format;
    qsizetype position = 12;
    while (position + 8 <= size) {
        const char* chunk = bytes + position;
        const quint32 length = le32(chunk + 4);
        const qsizetype body = position + 8;
        if (qsizetype(length) > size - body) return std::nullopt;
        if (memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16) return std::nullopt;
            quint16 tag = le16(bytes + body);
            const quint16 channels = le16(bytes + body + 2);
            const quint32 rate = le32(bytes + body + 4);
            const quint16 bits = le16(bytes + body + 14);
            if (tag == 0xFFFE) { // extensible: the real tag opens the sub-format
                if (length < 26) return std::nullopt;
                tag = le16(bytes + body + 24);
            }
            QAudioFormat::SampleFormat sampleFormat = QAudioFormat::Unknown;
            if (tag == 1 && bits == 8) sampleFormat = QAudioFormat::UInt8;
            else if (tag == 1 && bits == 16) sampleFormat = QAudioFormat::Int16;
            else if (tag == 1 && bits == 32) sampleFormat = QAudioFormat::Int32;
            else if (tag == 3 && bits == 32) sampleFormat = QAudioFormat::Float;
            if (sampleFormat == QAudioFormat::Unknown || channels == 0 || rate == 0) return std::nullopt;
            QAudioFormat f;
            f.setSampleFormat(sampleFormat);
            f.setChannelCount(channels);
            f.setSampleRate(int(rate));
            format = f;
        } else if (memcmp(chunk, "data", 4) == 0) {
            if (!format) return std::nullopt;
            const qsizetype frame = format->bytesPerFrame();
            const qsizetype usable = qsizetype(length) / frame * frame;
            return WaveSound{*format, wav.sliced(body, usable)};
        }
        position = body + length + (length & 1); // chunks are padded to even sizes
    }
    return std::nullopt;
}

AudioPlayer::AudioPlayer(WaveSound sound, QObject* parent) : QObject(parent), m_sound(std::move(sound))
{
}

AudioPlayer::~AudioPlayer()
{
    if (m_sink) m_sink->stop();
}

bool AudioPlayer::hasAudioOutput()
{
    return !QMediaDevices::audioOutputs().isEmpty();
}

void AudioPlayer::play()
{
    if (m_started) return;
    m_started = true;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(m_sound.format)) {
        finish(false);
        return;
    }
    m_buffer = std::make_unique<QBuffer>();
    m_buffer->setData(m_sound.samples);
    m_buffer->open(QIODevice::ReadOnly);
    m_sink = std::make_unique<QAudioSink>(device, m_sound.format);
    connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::IdleState) finish(m_sink->error() == QAudio::NoError || m_sink->error() == QAudio::UnderrunError);
        else if (state == QAudio::StoppedState && m_sink->error() != QAudio::NoError) finish(false);
    });
    m_playing = true;
    m_sink->start(m_buffer.get());
    if (m_sink->error() != QAudio::NoError && m_sink->state() == QAudio::StoppedState) finish(false);
}

void AudioPlayer::finish(bool successfully)
{
    if (m_finished) return;
    m_finished = true;
    // Reported on a later turn, so that the caller of play() never sees its
    // player go away under it; a player deleted first reports nothing.
    QMetaObject::invokeMethod(
        this,
        [this, successfully] {
            if (m_sink) m_sink->stop();
            m_playing = false;
            emit finished(successfully);
        },
        Qt::QueuedConnection);
}

} // namespace lumora
