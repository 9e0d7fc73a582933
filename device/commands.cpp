// The command set: fixed frames and the write operation each one goes through.
#include "app/mainwindow.h"
#include "device/xmodemdal.h"

namespace XModemDAL {
namespace {

template <int N> using Frame = const char[N];

// Query frames are written with one byte more than the frame itself: the start
// byte 6E of the frame that followed them in the device's original table.
//                                 start cmd   code  param end   trailing
Frame<6> kInitStatusZero = {'\x6E', '\x01', '\x02', '\x01', '\x8F', '\x00'};
Frame<6> kEndInfoQuery = {'\x6E', '\x01', '\x0F', '\x01', '\x8F', '\x6E'};
Frame<6> kGetInitStatus = {'\x6E', '\x01', '\x02', '\x01', '\x8F', '\x6E'};
Frame<6> kGetDeviceInfo = {'\x6E', '\x01', '\x03', '\x02', '\x8F', '\x6E'};
Frame<6> kGetVersionInfo = {'\x6E', '\x01', '\x03', '\x03', '\x8F', '\x6E'};
Frame<6> kGetWatchId = {'\x6E', '\x01', '\x04', '\x01', '\x8F', '\x6E'};
Frame<6> kSendSign = {'\x6E', '\x01', '\x06', '\x01', '\x8F', '\x6E'};
Frame<5> kOrder7 = {'\x6E', '\x01', '\x21', '\x01', '\x8F'};
Frame<6> kOrder9 = {'\x6E', '\x01', '\x16', '\x01', '\x8F', '\x6E'};
Frame<6> kOrder10 = {'\x6E', '\x01', '\x31', '\x01', '\x8F', '\x6E'};
Frame<6> kOrder12 = {'\x69', '\x6E', '\x01', '\x31', '\x01', '\x8F'};
Frame<12> kOrder19 = {'\x6E', '\x01', '\xA2', '\x03', '\x00', '\x00',
                      '\x00', '\x00', '\x8F', '\x72', '\x76', '\x04'};
Frame<6> kOrder20 = {'\x6E', '\x01', '\x18', '\x01', '\x8F', '\x6E'};
Frame<5> kOrder21 = {'\x6E', '\x01', '\x58', '\x01', '\x8F'};
Frame<5> kOrder22 = {'\x6E', '\x01', '\x34', '\xFF', '\x8F'};
Frame<6> kOrder24 = {'\x6E', '\x01', '\x14', '\x01', '\x8F', '\x6E'};
Frame<6> kResetDevice = {'\x6E', '\x01', '\x11', '\x01', '\x8F', '\x6E'};
Frame<5> kOrder40 = {'\x6E', '\x01', '\x0B', '\x01', '\x8F'};
Frame<6> kOrder43 = {'\x6E', '\x01', '\x30', '\x01', '\x8F', '\x6E'};
Frame<6> kOrder44 = {'\x6E', '\x01', '\x30', '\x02', '\x8F', '\x6E'};
Frame<6> kOrder45 = {'\x6E', '\x01', '\x32', '\x04', '\x8F', '\x6E'};
Frame<6> kOrder46 = {'\x6E', '\x01', '\x32', '\x03', '\x8F', '\x6E'};
Frame<6> kOrder47 = {'\x6E', '\x01', '\x32', '\x01', '\x8F', '\x6E'};
Frame<6> kOrder48 = {'\x6E', '\x01', '\x32', '\x02', '\x8F', '\x6E'};
Frame<5> kOrder53 = {'\x80', '\x01', '\x1C', '\x4D', '\x32'};
Frame<5> kOrder54 = {'\x80', '\x01', '\x21', '\xB3', '\xD5'};

// Update start: the 30-byte update frame, then the frame 6E 01 34 28 8F.
Frame<35> kUpdateSoftwareInfo = {
    '\x6E', '\x01', '\x1C', '\x01', '\x01', '\x01', // header
    0,      0,      0,      0,      0,      0,      0, 0, 0, 0, 0,
    0,      0,      0,      0,      0,      0,      0, 0, 0, 0, 0, // 22 zero bytes
    '\x01', '\x8F',                                                // byte 28, end of frame
    '\x6E', '\x01', '\x34', '\x28', '\x8F'};                       // second frame

Frame<1> kGetDeviceInfoWhenUpdate = {'c'};
Frame<1> kRestartUpdate = {'d'};
Frame<1> kStartOrder = {'u'};
Frame<1> kEndOrder = {EOT};
Frame<1> kCrcOrder = {'v'};
Frame<1> kRestartOrder = {'r'};

MainWindow* window() {
    return Globals::MainWin;
}

template <int N> void sendData(const char (&frame)[N], int order) {
    if (window())
        window()->SendData(frame, order, N);
}
template <int N> void sendBytes(const char (&frame)[N], int order) {
    if (window())
        window()->SendBytes(frame, N, order);
}
void sendBytes(const char* data, int length, int order) {
    if (window() && data)
        window()->SendBytes(data, length, order);
}
void sendArray(const QByteArray& data, int order) {
    if (window())
        window()->SendByteArray(data, order);
}
} // namespace

void GetInitStatus() {
    sendData(kGetInitStatus, IdGetInitStatus);
}
void GetVersionInfo() {
    sendData(kGetVersionInfo, IdGetVersionInfo);
}
void GetDeviceInfo() {
    sendData(kGetDeviceInfo, IdGetDeviceInfo);
}
void GetWatchId() {
    sendData(kGetWatchId, IdGetWatchId);
}
void EndInfoQuery() {
    sendData(kEndInfoQuery, IdEndInfoQuery);
}
void ResetDevice() {
    sendData(kResetDevice, IdResetDevice);
}
void UpdateSoftwareInfo() {
    sendBytes(kUpdateSoftwareInfo, IdUpdateSoftwareInfo);
}
void GetDeviceInfoWhenUpdate() {
    sendBytes(kGetDeviceInfoWhenUpdate, IdGetDeviceInfoWhenUpdate);
}
void StartOrder() {
    sendBytes(kStartOrder, IdStartOrder);
}
void SendPacket(const QByteArray& packet) {
    sendBytes(packet.constData(), packet.size(), IdSendPacket);
}
void EndOrder() {
    sendBytes(kEndOrder, IdEndOrder);
}
void CrcOrder() {
    sendBytes(kCrcOrder, IdCrcOrder);
}
void RestartOrder() {
    sendBytes(kRestartOrder, IdRestartOrder);
}

void InitStatusZero() {
    sendData(kInitStatusZero, IdInitStatusZero);
}
void SendSign() {
    sendData(kSendSign, IdSendSign);
}
void RestartUpdate() {
    sendBytes(kRestartUpdate, IdRestartUpdate);
}
void Order7() {
    sendBytes(kOrder7, 7);
}
void Order9() {
    sendData(kOrder9, 9);
}
void Order10() {
    sendData(kOrder10, 10);
}
void Order12() {
    sendData(kOrder12, 12);
}
void Order19() {
    sendBytes(kOrder19, 19);
}
void Order20() {
    sendBytes(kOrder20, 20);
}
void Order21() {
    sendBytes(kOrder21, 21);
}
void Order22() {
    sendBytes(kOrder22, 22);
}
void Order24() {
    sendData(kOrder24, 24);
}
void Order40() {
    sendBytes(kOrder40, 40);
}
void Order43() {
    sendData(kOrder43, 43);
}
void Order44() {
    sendData(kOrder44, 44);
}
void Order45() {
    sendData(kOrder45, 45);
}
void Order46() {
    sendData(kOrder46, 46);
}
void Order47() {
    sendData(kOrder47, 47);
}
void Order48() {
    sendData(kOrder48, 48);
}
void Order53() {
    sendBytes(kOrder53, 53);
}
void Order54() {
    sendBytes(kOrder54, 54);
}

// Assembled at run time as byte arrays.
void Order49() {
    sendArray(QByteArray::fromHex("6EEEFFEECC118F"), 49);
}
void Order50() {
    sendArray(QByteArray::fromHex("80011564A3"), 50);
}
void Order52() {
    sendArray(QByteArray::fromHex("80012092C5"), 52);
}

void Order23(const char* data) {
    sendBytes(data, 5, 23);
}
void Order26(const char* data) {
    sendBytes(data, 12, 26);
}
void Order27(const char* data) {
    sendBytes(data, 11, 27);
}
void Order28(const char* data) {
    sendBytes(data, 5, 28);
}
void Order29(const char* data) {
    sendBytes(data, 8, 29);
}
void Order31(const char* data, int length) {
    if (window() && data)
        window()->SendData(data, 31, length);
}
void Order41(const char* data) {
    sendBytes(data, 8, 41);
}
void Order42(const char* data) {
    sendBytes(data, 13, 42);
}
void Order51(const char* data) {
    sendBytes(data, 200, 51);
}
void Order51(const QByteArray& data) {
    sendArray(data, 51);
}

} // namespace XModemDAL
