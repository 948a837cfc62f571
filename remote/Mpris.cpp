#include "remote/Mpris.h"

#include "remote/RemoteApi.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
} // namespace

MprisService::MprisService(RemoteDesk* desk, std::function<void()> raise, QObject* parent)
    : QObject(parent), m_desk(desk), m_raise(std::move(raise)),
      m_bus(QStringLiteral("tavoria-mpris-none")) {
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this);
}

MprisService::~MprisService() {
    Unregister();
}

bool MprisService::Register(const QDBusConnection& bus, QString* error) {
    Unregister();
    if (!bus.isConnected()) {
        if (error)
            *error = QStringLiteral("No hay bus de sesión de D-Bus");
        return false;
    }
    m_bus = bus;
    if (!m_bus.registerObject(kPath, this, QDBusConnection::ExportAdaptors)) {
        if (error)
            *error = m_bus.lastError().message();
        return false;
    }
    const QString base = QStringLiteral("org.mpris.MediaPlayer2.tavoria");
    for (const QString& name :
         {base, base + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())}) {
        if (m_bus.registerService(name)) {
            m_service = name;
            m_registered = true;
            Refresh();
            return true;
        }
    }
    if (error)
        *error = m_bus.lastError().message();
    m_bus.unregisterObject(kPath);
    return false;
}

void MprisService::RegisterAsync(const QString& address, int timeoutMs,
                                 std::function<void(const QString&)> failed) {
    Unregister();
    struct Outcome {
        QDBusConnection bus{QStringLiteral("tavoria-mpris-none")};
        QString service;
        QString error;
    };
    auto outcome = std::make_shared<Outcome>();
    const QStringList names = {QStringLiteral("org.mpris.MediaPlayer2.tavoria"),
                               QStringLiteral("org.mpris.MediaPlayer2.tavoria.instance%1")
                                   .arg(QCoreApplication::applicationPid())};
    // Not parented: a thread stuck on a bus that never answers must outlive this
    // object without being waited for.
    QThread* thread = QThread::create([address, names, outcome] {
        QDBusConnection bus =
            QDBusConnection::connectToBus(address, QStringLiteral("tavoria-session ") + address);
        if (!bus.isConnected()) {
            outcome->error = bus.lastError().message();
            if (outcome->error.isEmpty())
                outcome->error = QStringLiteral("No hay bus de sesión de D-Bus");
            return;
        }
        outcome->bus = bus;
        for (const QString& name : names) {
            if (bus.registerService(name)) {
                outcome->service = name;
                return;
            }
        }
        outcome->error = bus.lastError().message();
    });
    thread->setObjectName(QStringLiteral("MprisConnect"));
    const quint64 attempt = ++m_attempt;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, attempt, timeoutMs, failed, timer] {
        timer->deleteLater();
        if (m_attempt != attempt)
            return;
        ++m_attempt;
        if (failed)
            failed(QStringLiteral("MPRIS: el bus de sesión no respondió en %1 s; sin MPRIS")
                       .arg(timeoutMs / 1000.0));
    });
    connect(thread, &QThread::finished, this, [this, attempt, outcome, failed, timer] {
        if (m_attempt != attempt) {
            // Given up, or started again: a name claimed too late is let go.
            if (!outcome->service.isEmpty())
                outcome->bus.unregisterService(outcome->service);
            return;
        }
        ++m_attempt;
        timer->stop();
        timer->deleteLater();
        if (outcome->service.isEmpty() ||
            !outcome->bus.registerObject(kPath, this, QDBusConnection::ExportAdaptors)) {
            const QString error =
                outcome->service.isEmpty() ? outcome->error : outcome->bus.lastError().message();
            if (!outcome->service.isEmpty())
                outcome->bus.unregisterService(outcome->service);
            if (failed)
                failed(QStringLiteral("MPRIS: %1").arg(error));
            return;
        }
        m_bus = outcome->bus;
        m_service = outcome->service;
        m_registered = true;
        Refresh();
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    timer->start(timeoutMs);
    thread->start();
}

void MprisService::Unregister() {
    if (!m_registered)
        return;
    m_bus.unregisterService(m_service);
    m_bus.unregisterObject(kPath);
    m_registered = false;
    m_service.clear();
}

qint64 MprisService::PositionUs() const {
    try {
        return qint64(m_desk->State().value(QStringLiteral("position_ms")).toDouble()) * 1000;
    } catch (...) {
        return 0;
    }
}

bool MprisService::CanPlay() const {
    try {
        return m_desk->PlaylistCount() > 0;
    } catch (...) {
        return false;
    }
}

void MprisService::Refresh() {
    QJsonObject state;
    try {
        state = m_desk->State();
    } catch (...) {
        return;
    }
    const QString s = state.value(QStringLiteral("state")).toString();
    const QString status = s == QStringLiteral("playing")  ? QStringLiteral("Playing")
                           : s == QStringLiteral("paused") ? QStringLiteral("Paused")
                                                           : QStringLiteral("Stopped");
    QVariantMap metadata;
    const QJsonObject current = state.value(QStringLiteral("current")).toObject();
    if (current.isEmpty()) {
        metadata.insert(
            QStringLiteral("mpris:trackid"),
            QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/"
                                                               "NoTrack"))));
    } else {
        metadata.insert(QStringLiteral("mpris:trackid"),
                        QVariant::fromValue(QDBusObjectPath(
                            QStringLiteral("/org/tavoria/track/%1")
                                .arg(current.value(QStringLiteral("index")).toInt()))));
        metadata.insert(QStringLiteral("xesam:title"),
                        current.value(QStringLiteral("name")).toString());
        const QString path = current.value(QStringLiteral("path")).toString();
        const QUrl url = QDir::isAbsolutePath(path) ? QUrl::fromLocalFile(path) : QUrl(path);
        metadata.insert(QStringLiteral("xesam:url"), url.toString(QUrl::FullyEncoded));
        const qint64 lengthMs = qint64(state.value(QStringLiteral("length_ms")).toDouble());
        if (lengthMs > 0)
            metadata.insert(QStringLiteral("mpris:length"), qlonglong(lengthMs * 1000));
    }
    QVariantMap changed;
    if (status != m_status)
        changed.insert(QStringLiteral("PlaybackStatus"), status);
    if (metadata != m_metadata)
        changed.insert(QStringLiteral("Metadata"), metadata);
    m_status = status;
    m_metadata = metadata;
    if (changed.isEmpty() || !m_registered)
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    m_bus.send(signal);
}

template <typename F> void MprisService::Run(F&& f) {
    // The desk reports a failure in its own error box; D-Bus only learns that the
    // call returned.
    try {
        f();
    } catch (...) {
    }
    Refresh();
}

void MprisService::Next() {
    Run([this] {
        if (m_desk->PlaylistCount() > 0)
            m_desk->Next();
    });
}

void MprisService::PlayPause() {
    Run([this] { m_desk->PlayPause(); });
}

void MprisService::Play() {
    Refresh();
    Run([this] {
        if (m_status != QStringLiteral("Playing"))
            m_desk->PlayPause();
    });
}

void MprisService::Pause() {
    Refresh();
    Run([this] {
        if (m_status == QStringLiteral("Playing"))
            m_desk->PlayPause();
    });
}

void MprisService::Stop() {
    Run([this] { m_desk->Stop(); });
}

void MprisService::Raise() {
    if (m_raise)
        m_raise();
}

MprisRootAdaptor::MprisRootAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service), m_service(service) {}

void MprisRootAdaptor::Raise() {
    m_service->Raise();
}

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService* service)
    : QDBusAbstractAdaptor(service), m_service(service) {}

void MprisPlayerAdaptor::Next() {
    m_service->Next();
}
void MprisPlayerAdaptor::Pause() {
    m_service->Pause();
}
void MprisPlayerAdaptor::PlayPause() {
    m_service->PlayPause();
}
void MprisPlayerAdaptor::Stop() {
    m_service->Stop();
}
void MprisPlayerAdaptor::Play() {
    m_service->Play();
}
