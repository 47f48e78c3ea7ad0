#include "SoundPlayer.h"

#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

namespace brantwell {

namespace {

// Qt's GStreamer backend crashes while it builds a player when the
// GStreamer base plugins are not installed; the FFmpeg backend comes with
// Qt's own package. It must be chosen before the first multimedia object
// exists; a backend the user chose stays.
void chooseMediaBackend()
{
    static const bool chosen = [] {
        if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
            qputenv("QT_MEDIA_BACKEND", "ffmpeg");
        return true;
    }();
    (void)chosen;
}

} // namespace

SoundPlayer::SoundPlayer(QObject* parent) : QObject(parent)
{
    chooseMediaBackend();
}

SoundPlayer::~SoundPlayer() = default;

void SoundPlayer::play(const QString& path)
{
    // Checked here because the players report a missing file in their own
    // time, or not at all; reported from the event loop like theirs.
    if (!QFileInfo(path).isFile()) {
        QTimer::singleShot(0, this, [this, path] { Q_EMIT failed(path); });
        return;
    }
    if (path.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive))
        playEffect(path);
    else
        playMedia(path);
}

void SoundPlayer::playEffect(const QString& path)
{
    // One effect per file: a new file gets a new effect, so a status
    // change of the old one cannot be taken for the new one.
    if (!effect_ || effectPath_ != path) {
        delete effect_;
        effect_ = new QSoundEffect(this);
        effectPath_ = path;
        connect(effect_, &QSoundEffect::statusChanged, this, [this, effect = effect_, path] {
            if (effect->status() == QSoundEffect::Ready)
                Q_EMIT loaded(path);
            else if (effect->status() == QSoundEffect::Error)
                Q_EMIT failed(path);
        });
        effect_->setSource(QUrl::fromLocalFile(path));
    } else if (effect_->status() == QSoundEffect::Error) {
        // The file may have been replaced since: load it again.
        delete effect_;
        effect_ = nullptr;
        playEffect(path);
        return;
    }
    // While the file is still loading, the effect starts once it is ready.
    effect_->play();
}

void SoundPlayer::playMedia(const QString& path)
{
    if (!player_) {
        player_ = new QMediaPlayer(this);
        output_ = new QAudioOutput(this);
        player_->setAudioOutput(output_);
        connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
            if (status == QMediaPlayer::LoadedMedia)
                Q_EMIT loaded(playerPath_);
            else if (status == QMediaPlayer::InvalidMedia)
                Q_EMIT failed(playerPath_);
        });
        connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error) {
            // An invalid file is reported through the status as well.
            if (error != QMediaPlayer::NoError && player_->mediaStatus() != QMediaPlayer::InvalidMedia)
                Q_EMIT failed(playerPath_);
        });
    }
    const QUrl url = QUrl::fromLocalFile(path);
    if (playerPath_ == path && player_->mediaStatus() != QMediaPlayer::InvalidMedia) {
        player_->stop();
        player_->play();
        return;
    }
    playerPath_ = path;
    player_->setSource(QUrl());  // so the same file is loaded anew after a failure
    player_->setSource(url);
    player_->play();
}

} // namespace brantwell
