#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Runs work on a thread of its own, so that the GUI thread never waits for
// it (a file on a slow disk, a bus that does not answer), and hands its
// result to done on receiver's thread, unless receiver is gone by then.
template <typename T>
void RunOffThread(QObject* receiver, std::function<T()> work, std::function<void(T)> done) {
    struct Mailbox {
        std::mutex mutex;
        QPointer<QObject> to;
        bool open = true;
    };
    auto box = std::make_shared<Mailbox>();
    box->to = receiver;
    QObject::connect(receiver, &QObject::destroyed, [box] {
        std::lock_guard<std::mutex> lock(box->mutex);
        box->open = false;
    });
    std::thread([box, work, done] {
        T result = work();
        std::lock_guard<std::mutex> lock(box->mutex);
        if (!box->open)
            return;
        QMetaObject::invokeMethod(
            box->to.data(),
            [box, done, result] {
                if (box->to)
                    done(result);
            },
            Qt::QueuedConnection);
    }).detach();
}
