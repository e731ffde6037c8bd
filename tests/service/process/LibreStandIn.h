#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A stand-in for a LibreTranslate server on 127.0.0.1, after its documented API: GET /languages,
// POST /translate with a JSON body, {"translatedText": ...} or {"error": ...} with a status.
class LibreStandIn {
public:
    LibreStandIn()
    {
        m_server.Get("/languages", [](const httplib::Request &, httplib::Response &res) {
            QJsonArray languages;
            for (const char *code : {"en", "de", "ja", "ru", "zh-Hans", "zh-Hant", "es", "nb"})
                languages.append(QJsonObject{{"code", code}, {"name", code}});
            res.set_content(QJsonDocument(languages).toJson().toStdString(), "application/json");
        });
        m_server.Post("/translate", [this](const httplib::Request &req, httplib::Response &res) {
            const QJsonObject request = QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            if (status != 200) {
                res.status = status;
                if (!retryAfter.empty())
                    res.set_header("Retry-After", retryAfter);
                res.set_content(R"({"error":"Slow down: 10 per 1 minute"})", "application/json");
                return;
            }
            const QString text
                = QStringLiteral("[%1] %2").arg(request.value("target").toString(), request.value("q").toString());
            res.set_content(
                QJsonDocument(QJsonObject{{"translatedText", text}}).toJson().toStdString(), "application/json");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() only ends a server that is already running.
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LibreStandIn()
    {
        m_server.stop();
        m_thread.join();
    }

    QByteArray Url() const { return "http://127.0.0.1:" + QByteArray::number(m_port); }
    std::vector<QJsonObject> Requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    // Set before requests arrive.
    std::atomic<int> status{200};
    std::string retryAfter;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    std::vector<QJsonObject> m_requests;
};
