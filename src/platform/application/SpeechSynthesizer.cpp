#include "platform/application/SpeechSynthesizer.h"

#include "platform/application/AudioPlayer.h"

#include <QTextToSpeech>

namespace lumora {

namespace {

// The engine that talks to the desktop's own speech service; the others
// synthesise in the program and play through its sound output.
const QString kDesktopEngine = QStringLiteral("speechd");

} // namespace

SpeechSynthesizer& SpeechSynthesizer::shared()
{
    static auto* synthesizer = new SpeechSynthesizer; // lives until the program ends
    return *synthesizer;
}

SpeechSynthesizer::SpeechSynthesizer() = default;
SpeechSynthesizer::~SpeechSynthesizer() = default;

void SpeechSynthesizer::setEngineOrder(std::optional<QStringList> engines)
{
    SpeechSynthesizer& s = shared();
    s.stop();
    s.m_engine.reset();
    s.m_order = std::move(engines);
    s.m_looked = false;
}

void SpeechSynthesizer::findEngine()
{
    m_looked = true;
    QStringList order;
    if (m_order) {
        order = *m_order;
    } else {
        const QStringList installed = QTextToSpeech::availableEngines();
        if (installed.contains(kDesktopEngine)) order << kDesktopEngine;
        for (const QString& engine : installed)
            if (engine != kDesktopEngine) order << engine;
    }
    for (const QString& name : std::as_const(order)) {
        // Engines of the program's own play through its sound output.
        if (name != kDesktopEngine && !AudioPlayer::hasAudioOutput()) continue;
        auto engine = std::make_unique<QTextToSpeech>(name);
        if (engine->state() == QTextToSpeech::Error || engine->errorReason() != QTextToSpeech::ErrorReason::NoError)
            continue;
        connect(engine.get(), &QTextToSpeech::stateChanged, this, [this](QTextToSpeech::State state) {
            setSpeaking(state == QTextToSpeech::Speaking || state == QTextToSpeech::Paused);
        });
        m_engine = std::move(engine);
        return;
    }
}

bool SpeechSynthesizer::isAvailable()
{
    if (!m_looked) findEngine();
    return m_engine && m_engine->state() != QTextToSpeech::Error;
}

void SpeechSynthesizer::speak(const QString& text)
{
    if (text.trimmed().isEmpty() || !isAvailable()) return;
    m_engine->stop();
    m_engine->say(text);
}

void SpeechSynthesizer::stop()
{
    if (m_engine) m_engine->stop();
    setSpeaking(false);
}

void SpeechSynthesizer::setSpeaking(bool speaking)
{
    if (m_speaking == speaking) return;
    m_speaking = speaking;
    emit speakingChanged(speaking);
}

} // namespace lumora
