#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <mutex>

// Records every debug log line of the process while it exists (thread-safe).
class LogCapture {
public:
    LogCapture() {
        instance() = this;
        previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous);
        instance() = nullptr;
    }

    QStringList lines() const {
        std::lock_guard<std::mutex> lock(mutex);
        return recorded;
    }
    int count(const QString& text) const {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const QString& line : recorded)
            n += line == text ? 1 : 0;
        return n;
    }
    bool contains(const QString& fragment) const {
        std::lock_guard<std::mutex> lock(mutex);
        for (const QString& line : recorded)
            if (line.contains(fragment))
                return true;
        return false;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        recorded.clear();
    }

private:
    static LogCapture*& instance() {
        static LogCapture* current = nullptr;
        return current;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
        LogCapture* self = instance();
        if (!self)
            return;
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->recorded.append(msg);
        }
        if (self->previous && (type != QtDebugMsg || qEnvironmentVariableIsSet("TEMBRA_TEST_LOG")))
            self->previous(type, context, msg);
    }

    mutable std::mutex mutex;
    QStringList recorded;
    QtMessageHandler previous = nullptr;
};
