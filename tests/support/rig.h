#pragma once

// The real main window wired to the simulated device and the local update
// service, with the application directory in a temporary folder.
#include "app/mainwindow.h"
#include "app/offercheck.h"
#include "device/xmodemdal.h"
#include "pages/initpage.h"
#include "pages/nodevice.h"
#include "pages/xmodemupdate.h"
#include "sim/firmwareimage.h"
#include "sim/simdevice.h"
#include "sim/updateservice.h"
#include "support/simports.h"
#include "web/webdal.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

class Rig {
public:
    explicit Rig(const sim::DeviceConfig& config = sim::DeviceConfig(),
                 std::vector<uint8_t> image = sim::makeFirmwareImage(3000, 1, 3, 0)) {
        resetToolState();
        XModemDAL::FileData.clear();
        // The window's update history, in the rig's own folder.
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath("state")));
        firmware = std::move(image);
        service.setImage(firmware, "1.3.0");
        service.start(0);
        WebDAL::SetBaseUrl(QString::fromStdString(service.baseUrl()));
        device = std::make_unique<sim::SimDevice>(config);
        ports = std::make_unique<SimPorts>(std::vector<sim::SimDevice*>{device.get()});
        window = std::make_unique<MainWindow>();
        Globals::AppPath = dir.path();
    }
    ~Rig() {
        window.reset();
        ports.reset();
        other.reset();
        device.reset();
        service.stop();
    }

    // A second device beside the first, unplugged, with its own D/N; the
    // rig keeps it until the ports that list it are gone.
    sim::SimDevice& addOther(const std::string& watchId) {
        sim::DeviceConfig config;
        config.watchId = watchId;
        ports.reset();
        other = std::make_unique<sim::SimDevice>(config);
        ports = std::make_unique<SimPorts>(std::vector<sim::SimDevice*>{device.get(), other.get()});
        return *other;
    }

    template <typename T> T* page() const { return qobject_cast<T*>(window->centralWidget()); }
    QString status() const {
        auto* label = window->centralWidget()->findChild<QLabel*>("statusMsg");
        return label ? label->text() : QString();
    }
    QByteArray received() const { return toQBytes(device->received()); }
    QString downloadPath() const { return dir.path() + "/Latest.bin"; }
    int checksum() const { return static_cast<int>(sim::UpdateService::fileChecksum(firmware)); }
    int getRequests() const {
        int n = 0;
        for (const auto& r : service.requests())
            n += r.method == "GET" ? 1 : 0;
        return n;
    }

    // Plugs the device in and waits for the device information page and for
    // the query that ends the identification to reach the device.
    // ... and for the page to say what the service offers (asked in the
    // background), so that a press installs what was shown.
    bool identify(int timeoutMs = 5000) {
        device->plug();
        return QTest::qWaitFor(
            [this] {
                return page<InitPage>() && device->firstEvent("frame:0F01", nullptr) &&
                       OfferCheck::Current().kind != OfferCheck::Kind::Asking;
            },
            timeoutMs);
    }
    void pressUpdate() {
        device->clearReceived();
        requestsAtPress = service.requests().size();
        QTest::mouseClick(page<InitPage>()->findChild<QPushButton*>("BtnUpdate"), Qt::LeftButton);
    }
    // The requests the service got since the last press.
    size_t requestsSincePress() const { return service.requests().size() - requestsAtPress; }
    size_t requestsAtPress = 0;

    QTemporaryDir dir;
    sim::UpdateService service;
    std::vector<uint8_t> firmware;
    std::unique_ptr<sim::SimDevice> device;
    std::unique_ptr<sim::SimDevice> other;
    std::unique_ptr<SimPorts> ports;
    std::unique_ptr<MainWindow> window;
};
