// Plays the alert sound without making anyone wait for it: a .wav file
// through QSoundEffect, anything else (.oga) through QMediaPlayer. A file
// that is missing or cannot be decoded plays nothing; that is reported by
// `failed` and never thrown or waited for.
#pragma once

#include <memory>

#include <QObject>
#include <QString>

class QAudioOutput;
class QMediaPlayer;
class QSoundEffect;

namespace brantwell {

class SoundPlayer final : public QObject {
    Q_OBJECT
public:
    explicit SoundPlayer(QObject* parent = nullptr);
    ~SoundPlayer() override;

    // Starts playing the file at `path` and returns at once; a sound still
    // playing from before is started over.
    void play(const QString& path);

Q_SIGNALS:
    // The file was decoded and handed to the audio output.
    void loaded(const QString& path);
    // The file is missing or cannot be decoded: nothing plays.
    void failed(const QString& path);

private:
    void playEffect(const QString& path);
    void playMedia(const QString& path);

    QSoundEffect* effect_ = nullptr;
    QString effectPath_;
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* output_ = nullptr;
    QString playerPath_;
};

} // namespace brantwell
