// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakefldigi.h"

#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <tuple>

namespace {

// Each method a request asks for, with its parameters as "type:text": a multicall's one by one.
// The requests are the bridge's own, written without spaces between the elements.
QList<QPair<QString, QStringList>> methodsOf(const QByteArray &request)
{
    static const QRegularExpression name("<methodName>([^<]*)</methodName>");
    static const QRegularExpression entry("<name>methodName</name><value><string>([^<]*)</string></value></member>"
                                          "<member><name>params</name><value><array>(<data/>|<data>.*?</data>)</array>");
    static const QRegularExpression param("<value><(\\w+)>([^<]*)</\\1></value>");
    auto params = [](const QString &xml) {
        QStringList found;
        for (auto it = param.globalMatch(xml); it.hasNext();) {
            const auto m = it.next();
            found.append(m.captured(1) + u':' + m.captured(2));
        }
        return found;
    };
    const QString xml = QString::fromUtf8(request);
    const QString method = name.match(xml).captured(1);
    if (method != u"system.multicall")
        return {{method, params(xml)}};
    QList<QPair<QString, QStringList>> methods;
    for (auto it = entry.globalMatch(xml); it.hasNext();) {
        const auto m = it.next();
        methods.append({m.captured(1), params(m.captured(2))});
    }
    return methods;
}

QByteArray http(const QByteArray &xml)
{
    return "HTTP/1.1 200 OK\r\nServer: XMLRPC++ 0.8\r\nContent-Type: text/xml\r\nContent-length: "
           + QByteArray::number(xml.size()) + "\r\n\r\n" + xml;
}

QByteArray faultStruct(const QString &text)
{
    return "<struct><member><name>faultCode</name><value><i4>-1</i4></value></member><member><name>faultString"
           "</name><value>" + text.toHtmlEscaped().toUtf8() + "</value></member></struct>";
}

} // namespace

FakeFldigi::FakeFldigi(quint16 port) : m_port(port)
{
    remember();
    start();
    m_ready.acquire();
}

FakeFldigi::~FakeFldigi()
{
    quit();
    wait();
}

QStringList FakeFldigi::calls()
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

int FakeFldigi::requests()
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

int FakeFldigi::connections()
{
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

QString FakeFldigi::trxState()
{
    QMutexLocker lock(&m_mutex);
    return m_trx;
}

void FakeFldigi::answer(const QString &method, const QByteArray &valueXml)
{
    QMutexLocker lock(&m_mutex);
    m_answers[method] = valueXml;
}

void FakeFldigi::fault(const QString &method, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    m_faults[method] = text;
}

void FakeFldigi::answerRaw(const QString &method, const QByteArray &http)
{
    QMutexLocker lock(&m_mutex);
    if (http.isEmpty())
        m_raw.remove(method);
    else
        m_raw[method] = http;
}

void FakeFldigi::setTrxStates(const QStringList &states)
{
    QMutexLocker lock(&m_mutex);
    m_trxStates = states;
}

void FakeFldigi::setDelay(int ms, const QString &method)
{
    QMutexLocker lock(&m_mutex);
    m_delayMs = ms;
    m_delayed = method;
}

void FakeFldigi::setCloseAfterAnswer(bool close)
{
    QMutexLocker lock(&m_mutex);
    m_closeAfterAnswer = close;
}

void FakeFldigi::setCloseFramed(bool framed)
{
    QMutexLocker lock(&m_mutex);
    m_closeFramed = framed;
}

void FakeFldigi::refuseAfter(const QString &method)
{
    QMutexLocker lock(&m_mutex);
    m_refuseAfter = method;
}

void FakeFldigi::setRefusing(bool refusing)
{
    inThread([this, refusing] { refuse(refusing); });
}

void FakeFldigi::refuse(bool refusing)
{
    if (!refusing) {
        if (!m_server->isListening())
            m_server->listen(QHostAddress::LocalHost, m_port);
        return;
    }
    m_server->close();
    for (QTcpSocket *socket : m_context->findChildren<QTcpSocket *>())
        socket->disconnectFromHost(); // after what is written
}

void FakeFldigi::setHalfAnswers(bool half)
{
    QMutexLocker lock(&m_mutex);
    m_halfAnswers = half;
}

void FakeFldigi::setAiring(int charMs)
{
    inThread([this, charMs] { m_airing->start(charMs); });
}

void FakeFldigi::setKeyDelay(int ms)
{
    QMutexLocker lock(&m_mutex);
    m_keyDelayMs = ms;
}

void FakeFldigi::airOne()
{
    QMutexLocker lock(&m_mutex);
    if (m_trx != u"TX" || m_pane.isEmpty())
        return;
    m_aired.append({nowMs(), m_keys, m_pane.first().first});
    m_pane.first().second.remove(0, 1);
    if (m_pane.first().second.isEmpty())
        m_pane.removeFirst();
}

QList<FakeFldigi::Aired> FakeFldigi::aired()
{
    QMutexLocker lock(&m_mutex);
    return m_aired;
}

void FakeFldigi::resetState()
{
    QMutexLocker lock(&m_mutex);
    m_trx = QStringLiteral("RX");
    m_carrier = 1500;
    m_frequency = QStringLiteral("14070000.000000");
    m_modem = QStringLiteral("BPSK31");
    m_rigMode = QStringLiteral("USB");
    m_pendingRigMode.clear();
    m_pane.clear();
    remember();
}

void FakeFldigi::operatorSetsCarrier(int hz)
{
    QMutexLocker lock(&m_mutex);
    m_carrier = hz;
    remember();
}

QList<FakeFldigi::State> FakeFldigi::history()
{
    QMutexLocker lock(&m_mutex);
    return m_history;
}

QList<FakeFldigi::CarriedOut> FakeFldigi::carriedOut()
{
    QMutexLocker lock(&m_mutex);
    return m_carriedOut;
}

qint64 FakeFldigi::nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void FakeFldigi::remember()
{
    const State now{nowMs(), m_carrier, m_frequency.toDouble(), m_modem, m_rigMode, m_trx};
    if (m_history.isEmpty() || std::tie(now.carrier, now.frequency, now.modem, now.rigMode, now.trx)
                                   != std::tie(m_history.last().carrier, m_history.last().frequency, m_history.last().modem,
                                               m_history.last().rigMode, m_history.last().trx))
        m_history.append(now);
}

void FakeFldigi::closeOnRequests(int count)
{
    QMutexLocker lock(&m_mutex);
    m_closeOnRequests = count;
}

void FakeFldigi::setSilent(bool silent)
{
    inThread([this, silent] {
        m_silent = silent;
        if (silent)
            return;
        for (const Held &held : std::exchange(m_held, {})) {
            const QByteArray answer = carryOut(held.request);
            if (held.socket && held.socket->state() == QAbstractSocket::ConnectedState)
                held.socket->write(answer);
        }
    });
}

void FakeFldigi::silentFrom(const QString &method)
{
    QMutexLocker lock(&m_mutex);
    m_silentFrom = method;
}

void FakeFldigi::dropConnections()
{
    inThread([this] {
        for (QTcpSocket *socket : m_context->findChildren<QTcpSocket *>())
            socket->abort();
    });
}

void FakeFldigi::closeConnections()
{
    inThread([this] {
        for (QTcpSocket *socket : m_context->findChildren<QTcpSocket *>())
            socket->disconnectFromHost();
    });
}

void FakeFldigi::inThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::BlockingQueuedConnection);
}

// Takes every whole request off the connection, in order.
void FakeFldigi::take(QTcpSocket *socket)
{
    if (socket->property("closing").toBool()) { // answered its last: what comes now is never read
        socket->readAll();
        return;
    }
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        static const QRegularExpression lengthHeader("Content-Length: *(\\d+)", QRegularExpression::CaseInsensitiveOption);
        const auto length = lengthHeader.match(QString::fromLatin1(buffer.left(end)));
        if (end < 0 || !length.hasMatch() || buffer.size() < end + 4 + length.captured(1).toInt())
            break;
        const bool close = buffer.left(end).toLower().contains("connection: close");
        const QByteArray request = buffer.mid(end + 4, length.captured(1).toInt());
        buffer.remove(0, end + 4 + request.size());
        const int served = socket->property("served").toInt();
        socket->setProperty("served", served + 1);
        int delay = 0;
        bool crossed = false, closeAfter = false, framed = false, refuse = false, half = false;
        {
            QMutexLocker lock(&m_mutex);
            ++m_requests;
            const auto methods = methodsOf(request);
            for (const auto &[method, params] : methods)
                m_calls.append(method + u'(' + params.join(u',') + u')');
            delay = m_delayed.isEmpty() || methods.value(0).first == m_delayed ? m_delayMs : 0;
            crossed = served > 0 && m_closeOnRequests > 0;
            m_closeOnRequests -= crossed ? 1 : 0;
            closeAfter = close || m_closeAfterAnswer;
            framed = m_closeFramed;
            half = m_halfAnswers;
            refuse = !m_refuseAfter.isEmpty() && methods.value(0).first == m_refuseAfter;
            if (!m_silentFrom.isEmpty() && methods.value(0).first == m_silentFrom) {
                m_silentFrom.clear();
                m_silent = true;
            }
        }
        if (crossed) {
            socket->disconnectFromHost();
            return;
        }
        if (m_silent) {
            m_held.append({socket, request});
            continue;
        }
        QByteArray answer = carryOut(request);
        if (framed)
            answer = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + answer.mid(answer.indexOf("\r\n\r\n") + 4);
        QTimer::singleShot(delay, socket, [this, socket, answer, close, closeAfter, framed, refuse, half]() mutable {
            if (half) {
                socket->write(answer.left(answer.size() / 2));
                socket->disconnectFromHost();
                return;
            }
            socket->write(close ? answer.replace("\r\n\r\n", "\r\nConnection: close\r\n\r\n") : answer);
            if (refuse)
                this->refuse(true);
            else if (close || framed)
                socket->disconnectFromHost();
            else if (closeAfter) { // a moment later, as a server does that closes once it has written
                socket->setProperty("closing", true);
                QTimer::singleShot(5, socket, [socket] { socket->disconnectFromHost(); });
            }
        });
    }
    socket->setProperty("buffer", buffer);
}

QByteArray FakeFldigi::carryOut(const QByteArray &request)
{
    const auto methods = methodsOf(request);
    QMutexLocker lock(&m_mutex);
    for (const auto &[method, params] : methods) {
        if (m_raw.contains(method))
            return m_raw.value(method);
    }
    // A rig mode asked for takes effect after the request's own reads.
    const auto setRigModeLater = qScopeGuard([this] {
        if (m_pendingRigMode.isEmpty())
            return;
        m_rigMode = std::exchange(m_pendingRigMode, {});
        remember();
    });
    bool fault = false;
    const bool multicall = methods.size() != 1 || request.contains("system.multicall");
    QByteArray value;
    if (!multicall) {
        value = result(methods.value(0).first, methods.value(0).second, &fault);
        if (fault)
            return http("<?xml version=\"1.0\"?>\r\n<methodResponse><fault><value>" + faultStruct(QString::fromUtf8(value))
                        + "</value></fault></methodResponse>\r\n");
    } else {
        value = "<array><data>";
        for (const auto &[method, params] : methods) {
            const QByteArray one = result(method, params, &fault);
            value += fault ? "<value>" + faultStruct(QString::fromUtf8(one)) + "</value>"
                           : "<value><array><data><value>" + one + "</value></data></array></value>";
        }
        value += "</data></array>";
    }
    return http("<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t<value>" + value
                + "</value>\r\n</param></params></methodResponse>\r\n");
}

// Some of fldigi 4.1's modem names, as modem.get_names lists them.
const QStringList modemNames{"NULL",   "SSB",    "CW",       "BPSK31",   "BPSK63",   "QPSK31", "RTTY",      "SITORB",
                             "MFSK16", "THROB1", "MT63-1KL", "FELDHELL", "WEFAX576", "NAVTEX", "OLIVIA-8-500"};

// What one method answers, as value XML, carrying it out on the state; a fault's text when
// *fault is set. Called with the mutex held.
QByteArray FakeFldigi::result(const QString &method, const QStringList &params, bool *fault)
{
    m_carriedOut.append({nowMs(), method + u'(' + params.join(u',') + u')', m_trx});
    const auto changed = qScopeGuard([this] { remember(); });
    *fault = m_faults.contains(method);
    if (*fault)
        return m_faults.value(method).toUtf8();
    const QString param = params.value(0).section(u':', 1);
    if (method == u"main.tx") {
        ++m_keys;
        if (m_keyDelayMs == 0)
            m_trx = QStringLiteral("TX");
        else
            QTimer::singleShot(m_keyDelayMs, m_context, [this] {
                QMutexLocker lock(&m_mutex);
                m_trx = QStringLiteral("TX");
                remember();
            });
    } else if (method == u"main.abort" || method == u"main.rx") {
        m_trx = QStringLiteral("RX");
        if (method == u"main.rx")
            m_pane.clear();
    } else if (method == u"text.add_tx") {
        m_pane.append({param.section(u' ', 0, 0), param});
    } else if (method == u"text.clear_tx") {
        m_pane.clear();
    }
    if (m_answers.contains(method))
        return m_answers.value(method);
    const QByteArray carrier = "<i4>" + QByteArray::number(m_carrier) + "</i4>";
    const QByteArray frequency = "<double>" + m_frequency.toUtf8() + "</double>";
    const QByteArray modem = m_modem.toUtf8();
    if (method == u"modem.get_carrier")
        return carrier;
    if (method == u"rig.get_frequency")
        return frequency;
    if (method == u"modem.get_name")
        return modem;
    if (method == u"modem.get_names") {
        QByteArray names;
        for (const QString &name : modemNames)
            names += "<value>" + name.toUtf8() + "</value>";
        return "<array><data>" + names + "</data></array>";
    }
    if (method == u"rig.get_mode")
        return m_rigMode.toUtf8();
    if (method == u"main.get_trx_state")
        return (m_trxStates.isEmpty() ? m_trx : m_trxStates.takeFirst()).toUtf8();
    if (method == u"modem.set_carrier") {
        m_carrier = param.toInt();
        return carrier;
    }
    if (method == u"rig.set_frequency") {
        m_frequency = param;
        return frequency;
    }
    if (method == u"modem.set_by_name") {
        if (!modemNames.contains(param)) // it answers any other name so, and changes nothing
            return "No such modem";
        m_modem = param;
        m_carrier = 1500; // fldigi resets the carrier with the modem
        return modem;
    }
    if (method == u"rig.set_mode")
        m_pendingRigMode = param;
    return {};
}

void FakeFldigi::run()
{
    QObject context;
    QTcpServer server(&context);
    server.listen(QHostAddress::LocalHost, m_port);
    m_port = server.serverPort();
    m_context = &context;
    m_server = &server;
    QTimer airing(&context);
    m_airing = &airing;
    QObject::connect(&airing, &QTimer::timeout, &context, [this] { airOne(); });
    QObject::connect(&server, &QTcpServer::newConnection, &context, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            socket->setParent(&context);
            {
                QMutexLocker lock(&m_mutex);
                ++m_connections;
            }
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { take(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_ready.release();
    exec();
}
