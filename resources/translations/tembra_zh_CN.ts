<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>BaseUI</name>
    <message>
        <source>Form</source>
        <translation>表单</translation>
    </message>
</context>
<context>
    <name>ChosenFirmware</name>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>无法读取 %1：%2</translation>
    </message>
    <message>
        <source>%1 does not exist</source>
        <translation>%1 不存在</translation>
    </message>
    <message>
        <source>%1 is a folder, not a firmware file</source>
        <translation>%1 是文件夹，不是固件文件</translation>
    </message>
    <message>
        <source>%1 is empty</source>
        <translation>%1 是空文件</translation>
    </message>
    <message>
        <source>%1 has %2 bytes, more than a firmware file can have (%3 bytes)</source>
        <translation>%1 有 %2 字节，超过固件文件的上限（%3 字节）</translation>
    </message>
    <message>
        <source>%1 has the SHA-256 %2, not the expected %3</source>
        <translation>%1 的 SHA-256 为 %2，而不是预期的 %3</translation>
    </message>
    <message>
        <source>%1 cannot be read: its symbolic links form a loop</source>
        <translation>无法读取 %1：其符号链接构成循环</translation>
    </message>
    <message>
        <source>%1 is not a regular file (%2)</source>
        <translation>%1 不是普通文件（%2）</translation>
    </message>
    <message>
        <source>a FIFO</source>
        <translation>FIFO 管道</translation>
    </message>
    <message>
        <source>a character device</source>
        <translation>字符设备</translation>
    </message>
    <message>
        <source>a block device</source>
        <translation>块设备</translation>
    </message>
    <message>
        <source>a socket</source>
        <translation>套接字</translation>
    </message>
    <message>
        <source>a file the system makes up as it is read, in %1</source>
        <translation>系统在读取时生成的文件，位于 %1</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Options of the toolkit, taken before the tool&apos;s own:
  -platform &lt;name&gt;           The platform plugin: xcb, wayland, offscreen.
  -platformtheme &lt;name&gt;      The platform theme.
  -platformpluginpath &lt;path&gt; Where platform plugins are looked for.
  -plugin &lt;name&gt;             An input plugin to load.
  -style &lt;name&gt;              The widget style, such as fusion.
  -stylesheet &lt;file&gt;         A style sheet for the window.
  -reverse                   Lays the window out right to left.
  -qwindowgeometry &lt;geometry&gt;, -qwindowtitle &lt;title&gt;, -qwindowicon &lt;icon&gt;
  -session &lt;id&gt;, -widgetcount, -display &lt;display&gt; (X11), -nograb, -dograb
</source>
        <translation>工具包的选项，在本工具的选项之前处理：
  -platform &lt;name&gt;           平台插件：xcb、wayland、offscreen。
  -platformtheme &lt;name&gt;      平台主题。
  -platformpluginpath &lt;path&gt; 查找平台插件的位置。
  -plugin &lt;name&gt;             要加载的输入插件。
  -style &lt;name&gt;              控件风格，例如 fusion。
  -stylesheet &lt;file&gt;         窗口的样式表。
  -reverse                   窗口从右到左布局。
  -qwindowgeometry &lt;geometry&gt;, -qwindowtitle &lt;title&gt;, -qwindowicon &lt;icon&gt;
  -session &lt;id&gt;, -widgetcount, -display &lt;display&gt; (X11), -nograb, -dograb
</translation>
    </message>
    <message>
        <source>Updates the firmware of a Tembra wrist device plugged in by USB.
Without options it opens its window; --check and --update run without one, and without a display.</source>
        <translation>更新通过 USB 连接的 Tembra 腕戴设备的固件。
不带选项时打开窗口；--check 和 --update 不需要窗口，也不需要显示器。</translation>
    </message>
    <message>
        <source>Identify the device and ask the update service; download nothing.</source>
        <translation>识别设备并询问更新服务；不下载任何内容。</translation>
    </message>
    <message>
        <source>Identify, check, download, transfer, confirm, restart, identify again.</source>
        <translation>识别、检查、下载、传输、确认、重启，再次识别。</translation>
    </message>
    <message>
        <source>The update service&apos;s base URL (http or https).</source>
        <translation>更新服务的基础 URL（http 或 https）。</translation>
    </message>
    <message>
        <source>The folder for settings, firmware and logs.</source>
        <translation>存放设置、固件和日志的文件夹。</translation>
    </message>
    <message>
        <source>The whole run&apos;s limit, 1 to 86400 seconds (default 600).</source>
        <translation>整个运行的时限，1 到 86400 秒（默认 600）。</translation>
    </message>
    <message>
        <source>Print one JSON object per line on standard output, nothing else.</source>
        <translation>在标准输出上每行打印一个 JSON 对象，不打印其他内容。</translation>
    </message>
    <message>
        <source>Print every log line on standard error, not only warnings and errors.</source>
        <translation>在标准错误上打印每一行日志，而不仅是警告和错误。</translation>
    </message>
    <message>
        <source>Update a device that already has the offered version (without it, the run ends as up to date and nothing is sent to the device).</source>
        <translation>更新已经拥有所提供版本的设备（不加此选项时，运行以“已是最新”结束，不向设备发送任何内容）。</translation>
    </message>
    <message>
        <source>Unexpected argument: %1</source>
        <translation>意外的参数：%1</translation>
    </message>
    <message>
        <source>--check and --update exclude each other</source>
        <translation>--check 和 --update 不能同时使用</translation>
    </message>
    <message>
        <source>--timeout takes a whole number of seconds from 1 to %1</source>
        <translation>--timeout 需要 1 到 %1 之间的整数秒</translation>
    </message>
    <message>
        <source>--json and --timeout go with --check or --update</source>
        <translation>--json 和 --timeout 需与 --check 或 --update 一起使用</translation>
    </message>
    <message>
        <source>--port takes a path</source>
        <translation>--port 需要一个路径</translation>
    </message>
    <message>
        <source>--service-url takes an http or https URL, not &quot;%1&quot;</source>
        <translation>--service-url 需要 http 或 https URL，而不是“%1”</translation>
    </message>
    <message>
        <source>See --help.</source>
        <translation>参见 --help。</translation>
    </message>
    <message>
        <source>Another instance of the tool is using %1; nothing was done.</source>
        <translation>本工具的另一个实例正在使用 %1；未执行任何操作。</translation>
    </message>
    <message>
        <source>The device&apos;s port as a path, such as a link under /dev/serial/by-id/, instead of the search. Given several times, the devices are updated at once, each by a run of its own, with a summary at the end.</source>
        <translation>设备端口的路径，例如 /dev/serial/by-id/ 下的链接，代替自动搜索。多次给出时，这些设备会同时更新，每个设备单独运行，最后给出汇总。</translation>
    </message>
    <message>
        <source>Every device port the search finds at the start, each by a run of its own.</source>
        <translation>开始时搜索到的每个设备端口，每个单独运行。</translation>
    </message>
    <message>
        <source>Refuse a firmware image whose SHA-256 differs (exit code 6), before anything is sent to a device.</source>
        <translation>在向设备发送任何内容之前，拒绝 SHA-256 不符的固件映像（退出码 6）。</translation>
    </message>
    <message>
        <source>--all and --port exclude each other</source>
        <translation>--all 和 --port 不能同时使用</translation>
    </message>
    <message>
        <source>--all, a repeated --port and --expect-sha256 go with --check or --update</source>
        <translation>--all、重复的 --port 和 --expect-sha256 需与 --check 或 --update 一起使用</translation>
    </message>
    <message>
        <source>--expect-sha256 takes %1 hexadecimal digits</source>
        <translation>--expect-sha256 需要 %1 位十六进制数字</translation>
    </message>
    <message>
        <source>Exit codes:
  0   updated, or up to date (--check)
  10  an update is offered (--check)
  2   bad arguments
  3   no device found within the limit
  4   the port cannot be opened (busy, permission)
  5   update service failure
  6   download or checksum failure
  7   the device stopped answering, or the limit was reached later
  8   another instance holds the data folder, or another run the device
  9   several devices: at least one of them failed (see the summary)
  130 stopped by SIGINT, SIGTERM or SIGHUP before the end
</source>
        <translation>退出码：
  0   已更新，或已是最新（--check）
  10  有可用的更新（--check）
  2   参数错误
  3   在时限内未找到设备
  4   无法打开端口（被占用，或没有权限）
  5   更新服务出错
  6   下载或校验和出错
  7   设备不再应答，或稍后达到时限
  8   另一个实例正在使用数据文件夹，或另一次运行正在使用该设备
  9   多台设备：至少有一台失败（见汇总）
  130 结束前被 SIGINT、SIGTERM 或 SIGHUP 停止
</translation>
    </message>
    <message>
        <source>With --update: install this firmware file instead of the update service&apos;s (no version check, no download).</source>
        <translation>与 --update 一起使用：安装此固件文件而不是更新服务的固件（不检查版本，不下载）。</translation>
    </message>
    <message>
        <source>--firmware installs a file: it goes with --update, not with --check</source>
        <translation>--firmware 用于安装文件：应与 --update 一起使用，而不是 --check</translation>
    </message>
    <message>
        <source>--firmware takes a file and goes with --update</source>
        <translation>--firmware 需要一个文件，并应与 --update 一起使用</translation>
    </message>
    <message>
        <source>Print the update history: what was updated, when, to what, from which file (newest last). No device and no network are needed.</source>
        <translation>打印更新记录：何时更新了什么、更新到哪个版本、使用哪个文件（最新的在最后）。无需设备，也无需网络。</translation>
    </message>
    <message>
        <source>With --history: the newest N records (default 50).</source>
        <translation>与 --history 一起使用：最新的 N 条记录（默认 50）。</translation>
    </message>
    <message>
        <source>With --history: print CSV, for a spreadsheet.</source>
        <translation>与 --history 一起使用：打印 CSV，供电子表格使用。</translation>
    </message>
    <message>
        <source>With --history: only the records of this device (its USB serial number or its device number).</source>
        <translation>与 --history 一起使用：只显示此设备的记录（其 USB 序列号或设备号）。</translation>
    </message>
    <message>
        <source>--history reads what was done: it goes without --check and --update</source>
        <translation>--history 读取已完成的操作：不能与 --check 和 --update 一起使用</translation>
    </message>
    <message>
        <source>--csv, --device and --history-limit go with --history</source>
        <translation>--csv、--device 和 --history-limit 须与 --history 一起使用</translation>
    </message>
    <message>
        <source>--csv and --json exclude each other</source>
        <translation>--csv 和 --json 不能同时使用</translation>
    </message>
    <message>
        <source>--history-limit takes a whole number from 1 to 1000000</source>
        <translation>--history-limit 须为 1 到 1000000 之间的整数</translation>
    </message>
    <message>
        <source>--device takes a serial number or a device number</source>
        <translation>--device 须为序列号或设备号</translation>
    </message>
</context>
<context>
    <name>InitPage</name>
    <message>
        <source>Form</source>
        <translation>表单</translation>
    </message>
    <message>
        <source>null</source>
        <translation>null</translation>
    </message>
    <message>
        <source>Firmware:</source>
        <translation>固件：</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>版本：</translation>
    </message>
    <message>
        <source>D/N:</source>
        <translation>设备号：</translation>
    </message>
    <message>
        <source>1.Update Firmware</source>
        <translation>1.更新固件</translation>
    </message>
    <message>
        <source>2.Reset</source>
        <translation>2.重启</translation>
    </message>
    <message>
        <source>Version: %1</source>
        <translation>版本：%1</translation>
    </message>
    <message>
        <source>D/N: %1</source>
        <translation>设备号：%1</translation>
    </message>
    <message>
        <source>Firmware: %1</source>
        <translation>固件：%1</translation>
    </message>
    <message>
        <source>Asks the update service for new firmware and sends it to the device (Alt+1)</source>
        <translation>向更新服务获取新固件并发送到设备（Alt+1）</translation>
    </message>
    <message>
        <source>Restarts the device, after asking first (Alt+2)</source>
        <translation>先询问，然后重启设备（Alt+2）</translation>
    </message>
    <message>
        <source>Firmware %1 is available</source>
        <translation>固件 %1 可用</translation>
    </message>
    <message>
        <source>Firmware %1 is available: %2</source>
        <translation>固件 %1 可用：%2</translation>
    </message>
    <message>
        <source>Up to date</source>
        <translation>已是最新</translation>
    </message>
    <message>
        <source>The update service cannot be reached now</source>
        <translation>目前无法连接更新服务</translation>
    </message>
    <message>
        <source>Chosen file: %1 (1.Update Firmware installs it)</source>
        <translation>已选择文件：%1（按“1.更新固件”安装）</translation>
    </message>
    <message>
        <source>This is the device on %1; the other device is left alone</source>
        <translation>这是 %1 上的设备；另一台设备不受影响</translation>
    </message>
    <message>
        <source>This is the device on %1; the %2 other devices are left alone</source>
        <translation>这是 %1 上的设备；其他 %2 台设备不受影响</translation>
    </message>
    <message>
        <source>%1 (serial %2)</source>
        <translation>%1（序列号 %2）</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Halvoren</source>
        <translation>Halvoren</translation>
    </message>
    <message>
        <source>Tembra Update Tool V</source>
        <translation>Tembra 更新工具 V</translation>
    </message>
    <message>
        <source>Tembra Update Tool is already running</source>
        <translation>Tembra 更新工具已在运行</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>无法打开 %1：%2</translation>
    </message>
    <message>
        <source>The device was disconnected during the update. Plug it in again: the update continues by itself.</source>
        <translation>更新过程中设备已断开。请重新连接：更新会自动继续。</translation>
    </message>
    <message>
        <source>The device stopped answering during the update. Unplug it and plug it in again: the update continues by itself.</source>
        <translation>更新过程中设备不再应答。请拔下并重新连接：更新会自动继续。</translation>
    </message>
    <message>
        <source>The device reports a checksum that does not match the firmware. Unplug it and plug it in again to try once more.</source>
        <translation>设备报告的校验和与固件不符。请拔下并重新连接以再试一次。</translation>
    </message>
    <message>
        <source>Updated from %1 to %2</source>
        <translation>已从 %1 更新到 %2</translation>
    </message>
    <message>
        <source>Updated to %1</source>
        <translation>已更新到 %1</translation>
    </message>
    <message>
        <source>Restarting the device...</source>
        <translation>正在重启设备……</translation>
    </message>
    <message>
        <source>The device restarted</source>
        <translation>设备已重启</translation>
    </message>
    <message>
        <source>Restart the device?</source>
        <translation>重启设备？</translation>
    </message>
    <message>
        <source>The device restarts, and is identified again once it answers.</source>
        <translation>设备将重启，应答后会被再次识别。</translation>
    </message>
    <message>
        <source>Close the update tool?</source>
        <translation>关闭更新工具？</translation>
    </message>
    <message>
        <source>The device is in the middle of its update. It stays in its boot loader until it is updated; the tool will finish the update the next time it finds it.

Close the tool now?</source>
        <translation>设备正在更新中。在更新完成前它会停留在引导程序中；下次找到设备时，本工具会完成更新。

现在关闭工具吗？</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Keep Updating</source>
        <translation>继续更新</translation>
    </message>
    <message>
        <source> firmware processing   %2/%1 KB</source>
        <translation> 固件处理中   %2/%1 KB</translation>
    </message>
    <message>
        <source> firmware processing    %1/%2 KB</source>
        <translation> 固件处理中    %1/%2 KB</translation>
    </message>
    <message>
        <source>Update Successfully</source>
        <translation>更新成功</translation>
    </message>
    <message>
        <source>Firmware Update Successfully</source>
        <translation>固件更新成功</translation>
    </message>
    <message>
        <source>The device was disconnected before its update began. Plug it in again: the update starts again by itself.</source>
        <translation>设备在更新开始前被断开。请重新连接：更新会自动重新开始。</translation>
    </message>
    <message>
        <source>The device confirmed its new firmware but did not come back within %1 s. Unplug it and plug it in again.</source>
        <translation>设备已确认新固件，但在 %1 秒内没有重新出现。请拔下设备后重新连接。</translation>
    </message>
    <message>
        <source>Another run of the tool, %2, is using the device on %1</source>
        <translation>本工具的另一次运行（%2）正在使用 %1 上的设备</translation>
    </message>
    <message>
        <source>Connecting to the device on %1…</source>
        <translation>正在连接 %1 上的设备…</translation>
    </message>
    <message>
        <source>The device on %1 does not answer. Unplug it and plug it in again.</source>
        <translation>%1 上的设备没有应答。请拔下设备后重新连接。</translation>
    </message>
    <message>
        <source>The device confirmed its new firmware and did not come back within %1 s</source>
        <translation>设备已确认新固件，但在 %1 秒内没有重新出现</translation>
    </message>
    <message>
        <source>The device stopped answering during the update</source>
        <translation>更新过程中设备不再应答</translation>
    </message>
    <message>
        <source>Unplug the device and plug it in again.</source>
        <translation>请拔下设备后重新连接。</translation>
    </message>
    <message>
        <source>%1: %2. %3</source>
        <translation>%1：%2。%3</translation>
    </message>
    <message>
        <source>The device reports a checksum that does not match the firmware</source>
        <translation>设备报告的校验和与固件不符</translation>
    </message>
    <message>
        <source>Choose a firmware file</source>
        <translation>选择固件文件</translation>
    </message>
    <message>
        <source>Firmware files (*.bin)</source>
        <translation>固件文件 (*.bin)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>所有文件 (*)</translation>
    </message>
    <message>
        <source>Install this file?</source>
        <translation>安装此文件？</translation>
    </message>
    <message>
        <source>Install %1 (%2 KB, sha256 %3…) on the device (now %4)?</source>
        <translation>在设备（当前 %4）上安装 %1（%2 KB，sha256 %3…）？</translation>
    </message>
    <message>
        <source>Choose another file.</source>
        <translation>请选择其他文件。</translation>
    </message>
    <message>
        <source>Last updated %1 from %2 to %3</source>
        <translation>上次更新：%1，从 %2 更新到 %3</translation>
    </message>
    <message>
        <source>Last updated %1 to %2</source>
        <translation>上次更新：%1，更新到 %2</translation>
    </message>
    <message>
        <source>Open the log folder</source>
        <translation>打开日志文件夹</translation>
    </message>
    <message>
        <source>Copy details</source>
        <translation>复制详细信息</translation>
    </message>
    <message>
        <source>Another device (%1) is on that port; the device being updated (%2) has not come back.</source>
        <translation>该端口上是另一台设备（%1）；正在更新的设备（%2）尚未重新连接。</translation>
    </message>
    <message>
        <source>The device that came back (%1) is not the one that was updated (%2)</source>
        <translation>重新连接的设备（%1）不是已更新的设备（%2）</translation>
    </message>
    <message>
        <source>Plug in the device that was updated to see which firmware it runs.</source>
        <translation>请连接已更新的设备，查看其运行的固件。</translation>
    </message>
    <message>
        <source>The device restarted with its new firmware, but %1 stayed busy for %2 s: %3</source>
        <translation>设备已使用新固件重启，但 %1 在 %2 秒内一直被占用：%3</translation>
    </message>
    <message>
        <source>Close the program that holds the port, then unplug the device and plug it in again.</source>
        <translation>请关闭占用该端口的程序，然后拔下设备并重新连接。</translation>
    </message>
    <message>
        <source>Install %1 (%2 KB, sha256 %3…) on the device? It is in its boot loader: its version is not known.</source>
        <translation>要在设备上安装 %1（%2 KB，sha256 %3…）吗？设备处于引导程序中：其版本未知。</translation>
    </message>
    <message>
        <source>Details: Ctrl+L</source>
        <translation>详细信息：Ctrl+L</translation>
    </message>
    <message>
        <source>There is no log file of this run to show.</source>
        <translation>本次运行没有可显示的日志文件。</translation>
    </message>
</context>
<context>
    <name>NoDevice</name>
    <message>
        <source>Form</source>
        <translation>表单</translation>
    </message>
    <message>
        <source>Please plug in your device</source>
        <translation>请连接您的设备</translation>
    </message>
    <message>
        <source>Processing</source>
        <translation>处理中</translation>
    </message>
</context>
<context>
    <name>Platform</name>
    <message>
        <source>Device or resource busy (in use by %1, process %2)</source>
        <translation>设备或资源忙（被 %1 使用，进程 %2）</translation>
    </message>
    <message>
        <source>another program</source>
        <translation>另一个程序</translation>
    </message>
</context>
<context>
    <name>ProgressPanel</name>
    <message>
        <source>Asking the update service</source>
        <translation>正在询问更新服务</translation>
    </message>
    <message>
        <source>Downloading</source>
        <translation>正在下载</translation>
    </message>
    <message>
        <source>Switching the device to its boot loader</source>
        <translation>正在将设备切换到引导程序</translation>
    </message>
    <message>
        <source>Sending to the device</source>
        <translation>正在发送到设备</translation>
    </message>
    <message>
        <source>Device checking the firmware</source>
        <translation>设备正在检查固件</translation>
    </message>
    <message>
        <source>Waiting for the device</source>
        <translation>正在等待设备</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
    <message>
        <source>Keep the device plugged in</source>
        <translation>请保持设备连接</translation>
    </message>
    <message>
        <source>about %1 s left</source>
        <translation>约剩 %1 秒</translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation>约剩 %1 分钟</translation>
    </message>
    <message>
        <source>%1 — %2</source>
        <translation>%1——%2</translation>
    </message>
    <message>
        <source>Downloading %1</source>
        <translation>正在下载 %1</translation>
    </message>
    <message>
        <source>What the release brings</source>
        <translation>此版本的更新内容</translation>
    </message>
    <message>
        <source>Restarting the device</source>
        <translation>正在重启设备</translation>
    </message>
    <message>
        <source>Downloading the firmware</source>
        <translation>正在下载固件</translation>
    </message>
    <message>
        <source>Sending the firmware</source>
        <translation>正在发送固件</translation>
    </message>
</context>
<context>
    <name>XModemUpdate</name>
    <message>
        <source>Form</source>
        <translation>表单</translation>
    </message>
    <message>
        <source>动画</source>
        <translation>动画</translation>
    </message>
    <message>
        <source>下载</source>
        <translation>下载</translation>
    </message>
    <message>
        <source>wait for update firmware..</source>
        <translation>等待更新固件..</translation>
    </message>
    <message>
        <source>downloading firmware....</source>
        <translation>正在下载固件....</translation>
    </message>
    <message>
        <source> downloading firmware  </source>
        <translation> 正在下载固件  </translation>
    </message>
    <message>
        <source>wait for update firmware...</source>
        <translation>等待更新固件...</translation>
    </message>
    <message>
        <source>update file error</source>
        <translation>更新文件错误</translation>
    </message>
    <message>
        <source>Cannot reach the update service: %1</source>
        <translation>无法连接更新服务：%1</translation>
    </message>
    <message>
        <source>The update service answered %1</source>
        <translation>更新服务返回 %1</translation>
    </message>
    <message>
        <source>The update service did not answer for %1 s</source>
        <translation>更新服务 %1 秒内没有应答</translation>
    </message>
    <message>
        <source>The update service sent an answer that cannot be read</source>
        <translation>更新服务发送的应答无法读取</translation>
    </message>
    <message>
        <source>The update service refused the request: %1</source>
        <translation>更新服务拒绝了请求：%1</translation>
    </message>
    <message>
        <source>Working</source>
        <translation>处理中</translation>
    </message>
    <message>
        <source>The firmware file kept from before was left as it was.</source>
        <translation>之前保存的固件文件保持不变。</translation>
    </message>
    <message>
        <source>Update again?</source>
        <translation>再次更新？</translation>
    </message>
    <message>
        <source>The device already has %1. Update it again?</source>
        <translation>设备已经是 %1。要再次更新吗？</translation>
    </message>
    <message>
        <source>The answer of the update service cannot be stored in %1</source>
        <translation>无法将更新服务的应答保存到 %1</translation>
    </message>
    <message>
        <source>The device is in its boot loader, and the update service offers no firmware for it</source>
        <translation>设备处于引导程序中，而更新服务没有为它提供固件</translation>
    </message>
    <message>
        <source>Press 1.Update Firmware to try again.</source>
        <translation>按“1.更新固件”重试。</translation>
    </message>
    <message>
        <source>Check the network connection, then press 1.Update Firmware to try again.</source>
        <translation>请检查网络连接，然后按“1.更新固件”重试。</translation>
    </message>
    <message>
        <source>Wait a while, then press 1.Update Firmware to try again.</source>
        <translation>请稍候，然后按“1.更新固件”重试。</translation>
    </message>
    <message>
        <source>Free space in that folder or let this user write there, then press 1.Update Firmware.</source>
        <translation>请在该文件夹中腾出空间或允许此用户写入，然后按“1.更新固件”。</translation>
    </message>
    <message>
        <source>Try again later, or ask support which firmware the device needs.</source>
        <translation>请稍后重试，或向技术支持询问设备需要哪个固件。</translation>
    </message>
    <message>
        <source>The chosen file cannot be kept in %1: %2</source>
        <translation>无法将所选文件保存到 %1：%2</translation>
    </message>
    <message>
        <source>The update service offers nothing for this device</source>
        <translation>更新服务没有为此设备提供任何内容</translation>
    </message>
    <message>
        <source>Your device is up to date (%1)</source>
        <translation>您的设备已是最新（%1）</translation>
    </message>
</context>
</TS>
