#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTextToSpeech;

namespace lumora {

// Reading text aloud through Qt's text to speech (speech-dispatcher where
// it runs, else another installed engine).
//
// The engine is looked for the first time someone asks whether speech is
// available, never at start-up: loading a voice can take a noticeable
// moment, and a machine without a speech service or a sound output is
// normal. Such a machine simply has no speech: isAvailable() is false,
// and nothing is printed. Main thread only.
class SpeechSynthesizer : public QObject {
    Q_OBJECT

public:
    static SpeechSynthesizer& shared();

    // The engines to try, in order; by default speech-dispatcher first,
    // then every other engine Qt offers. An empty list means none (tests).
    // Forgets an engine already found.
    static void setEngineOrder(std::optional<QStringList> engines);

    bool isAvailable();
    bool isSpeaking() const { return m_speaking; }
    // Says text, stopping whatever was being said; does nothing without
    // an engine or with an empty text.
    void speak(const QString& text);
    void stop();

signals:
    void speakingChanged(bool speaking);

private:
    SpeechSynthesizer();
    ~SpeechSynthesizer() override;
    void findEngine();
    void setSpeaking(bool speaking);

    std::unique_ptr<QTextToSpeech> m_engine;
    std::optional<QStringList> m_order;
    bool m_looked = false;
    bool m_speaking = false;
};

} // namespace lumora
