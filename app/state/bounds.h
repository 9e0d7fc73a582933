#pragma once

// The limits the tool sets on waits that would otherwise never end: a device
// that stops answering, a device that does not come back, a service that
// stays silent is bounded elsewhere (WebDAL). The 3-second pauses while the
// device restarts are here too, so that tests can shorten everything alike
// with TEMBRA_TEST_TIME_SCALE (a factor from 0.01 to 1; 1 when unset).
namespace Bounds {

// A boot loader silent this long after a packet, EOT, "v", "u" or "r" is
// asked again; after SilenceRetries such repeats the run fails.
int DeviceSilenceMs();
constexpr int SilenceRetries = 3;
// A device that opened but does not answer its identification this long is
// said not to answer (the window goes on waiting for it).
int NotAnsweringMs();
// The command line ends a run with a device that does not answer after this
// long, and one whose device was lost mid-update and is not back after this.
int NotAnsweringExitMs();
int LostReturnMs();
// How long a failure text stays before the device information page returns.
int FailureShownMs();
// After the device was told to switch to its boot loader (and the pause),
// its port is looked for this long before the device counts as lost.
int SwitchBackMs();
// A device known to be in its boot loader that sends nothing this long after
// the update start is taken to have answered it.
int UpdateStartAnswerMs();
// The pause while the device restarts into its boot loader, and after it
// confirmed the firmware's checksum.
int RestartPauseMs();
// Consecutive checksum reports that do not match before the device is taken
// to report a wrong checksum for good.
constexpr int ChecksumMismatches = 10;

// ms times the test factor.
int Scaled(int ms);

} // namespace Bounds
