<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>vorn::DeviceSession</name>
    <message>
        <source>“%1”不是 1 到 16 之间的端口号。</source>
        <translation>“%1” is not a port number from 1 to 16.</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <comment>device path: system reason</comment>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1# 通道的参数无效，没有发送任何数据。</source>
        <translation>The values of channel %1# are not valid; nothing was sent.</translation>
    </message>
    <message>
        <source>%1# 通道：低点原始值 %2，高点原始值 %3。</source>
        <translation>Channel %1#: low raw value %2, high raw value %3.</translation>
    </message>
    <message>
        <source>没有可以使用的通讯端口</source>
        <translation>No serial port can be used</translation>
    </message>
    <message>
        <source>端口打开错误~!</source>
        <translation>The port could not be opened!</translation>
    </message>
    <message>
        <source>设置错误，请检查 设置数据是否正确？</source>
        <translation>Setting failed. Are the settings right?</translation>
    </message>
    <message>
        <source>设置错误，请检查是否有 有效原始值？设置数据是否正确？</source>
        <translation>Setting failed. Are there valid raw values? Are the settings right?</translation>
    </message>
    <message>
        <source>通讯端口没有打开，命令没有发送。</source>
        <translation>The serial port is not open; the command was not sent.</translation>
    </message>
    <message>
        <source>命令发送失败，通讯端口可能已断开。</source>
        <translation>The command could not be sent; the serial port may be disconnected.</translation>
    </message>
    <message>
        <source>接入的适配器没有报告序列号，原来的适配器是 %1</source>
        <translation>the adapter plugged in reports no serial number; the one before was %1</translation>
    </message>
    <message>
        <source>接入的适配器序列号为 %1，原来的是 %2</source>
        <translation>the adapter plugged in has serial number %1, the one before %2</translation>
    </message>
    <message numerus="yes">
        <source>设备没有应答连接测试（%n 次）</source>
        <translation>
            <numerusform>the device did not answer the connection test (%n time)</numerusform>
            <numerusform>the device did not answer the connection test (%n times)</numerusform>
        </translation>
    </message>
    <message>
        <source>原来的是 %1 号（显示位数 %2）</source>
        <translation>the one before was number %1 (%2 digits)</translation>
    </message>
    <message>
        <source>使用的设备编号是 %1</source>
        <translation>the device number in use is %1</translation>
    </message>
    <message>
        <source>应答的是 %1 号设备（显示位数 %2），%3</source>
        <translation>device %1 (%2 digits) answered; %3</translation>
    </message>
    <message>
        <source>正在确认重新接入的设备，命令没有发送。</source>
        <translation>Checking the device that came back; nothing was sent.</translation>
    </message>
    <message>
        <source>应是 %1 号（显示位数 %2）</source>
        <translation>expected number %1 (%2 digits)</translation>
    </message>
    <message>
        <source>应有 %1 位显示</source>
        <translation>expected %1 digits</translation>
    </message>
</context>
<context>
    <name>vorn::Gbk</name>
    <message>
        <source>缺少 GBK 编码转换器（本程序所用的 Qt 不含 ICU），无法转换 GBK 编码的文字。</source>
        <translation>There is no GBK converter (the Qt this program uses was built without ICU): GBK text cannot be converted.</translation>
    </message>
    <message>
        <source>文字中有残缺的字符（%1），无法用 GBK 编码表示。</source>
        <translation>The text holds a broken character (%1), which GBK cannot represent.</translation>
    </message>
    <message>
        <source>字符“%1”（%2）无法用 GBK 编码表示。</source>
        <translation>The character “%1” (%2) cannot be represented in GBK.</translation>
    </message>
    <message>
        <source>文字中有无法用 GBK 编码表示的字符。</source>
        <translation>The text holds characters that GBK cannot represent.</translation>
    </message>
    <message>
        <source>含有不是 GBK 编码的字节。</source>
        <translation>It holds bytes that are not GBK.</translation>
    </message>
</context>
<context>
    <name>vorn::Line</name>
    <message>
        <source>方式 %1</source>
        <translation>mode %1</translation>
    </message>
    <message>
        <source>不完整的命令帧</source>
        <translation>Incomplete command frame</translation>
    </message>
    <message>
        <source>连接测试</source>
        <translation>Connection test</translation>
    </message>
    <message>
        <source>修改编号为 %1，显示位数 %2</source>
        <translation>Renumber to %1, display digits %2</translation>
    </message>
    <message>
        <source>下载配置（%1 个通道）</source>
        <translation>Download configuration (%1 channels)</translation>
    </message>
    <message>
        <source>回读配置</source>
        <translation>Read back configuration</translation>
    </message>
    <message>
        <source>反馈目标值</source>
        <translation>Feed back target values</translation>
    </message>
    <message>
        <source>反馈原始值</source>
        <translation>Feed back raw values</translation>
    </message>
    <message>
        <source>关闭反馈</source>
        <translation>Feedback off</translation>
    </message>
    <message>
        <source>显示目标值</source>
        <translation>Display target values</translation>
    </message>
    <message>
        <source>显示原始值</source>
        <translation>Display raw values</translation>
    </message>
    <message>
        <source>关闭显示</source>
        <translation>Display off</translation>
    </message>
    <message>
        <source>显示数字 %1（位置 %2，端口 %3）</source>
        <translation>Show number %1 (position %2, port %3)</translation>
    </message>
    <message>
        <source>显示编码 %1 %2（位置 %3，端口 %4）</source>
        <translation>Show code %1 %2 (position %3, port %4)</translation>
    </message>
    <message>
        <source>智能设置 %1#：增益 %2，偏移 %3</source>
        <translation>Smart setting %1#: gain %2, offset %3</translation>
    </message>
    <message>
        <source>开机</source>
        <translation>Power on</translation>
    </message>
    <message>
        <source>关机</source>
        <translation>Power off</translation>
    </message>
    <message>
        <source>同步时间 %1-%2-%3 %4:%5:%6</source>
        <translation>Set clock %1-%2-%3 %4:%5:%6</translation>
    </message>
    <message>
        <source>命令代码 0x%1</source>
        <translation>Command code 0x%1</translation>
    </message>
    <message>
        <source>找到设备 %1，显示位数 %2</source>
        <translation>Found device %1, display digits %2</translation>
    </message>
    <message>
        <source>回读配置（%1 个通道）</source>
        <translation>Configuration read back (%1 channels)</translation>
    </message>
    <message>
        <source>原始值 %1</source>
        <translation>Raw values %1</translation>
    </message>
    <message>
        <source>丢弃：%1</source>
        <translation>Dropped: %1</translation>
    </message>
    <message>
        <source>丢弃记录：%1</source>
        <translation>Record dropped: %1</translation>
    </message>
    <message>
        <source>目标值 %1</source>
        <translation>Target values %1</translation>
    </message>
    <message>
        <source>不以 “N” 开头</source>
        <translation>does not start with “N”</translation>
    </message>
    <message>
        <source>不以回车换行结尾</source>
        <translation>does not end with CR LF</translation>
    </message>
    <message>
        <source>起始字节应为 0x02，收到 %1</source>
        <translation>start byte should be 0x02, got %1</translation>
    </message>
    <message>
        <source>结束字节应为 0x03，收到 %1</source>
        <translation>end byte should be 0x03, got %1</translation>
    </message>
    <message>
        <source>帧标志应为 0xEE，收到 %1</source>
        <translation>frame marker should be 0xEE, got %1</translation>
    </message>
    <message>
        <source>长度字段为 %1，等待的字节却有 %2 个</source>
        <translation>the length field says %1, but %2 bytes were waiting</translation>
    </message>
    <message>
        <source>校验字节应为 %1，收到 %2</source>
        <translation>check byte should be %1, got %2</translation>
    </message>
    <message>
        <source>未知的应答代码 %1</source>
        <translation>unknown reply code %1</translation>
    </message>
    <message>
        <source>代码 %1 的应答需要 %2 个字节，这一帧只有 %3 个</source>
        <translation>a reply with code %1 needs %2 bytes, this frame has only %3</translation>
    </message>
    <message numerus="yes">
        <source>太短：只有 %n 个字节</source>
        <translation>
            <numerusform>too short: only %n byte</numerusform>
            <numerusform>too short: only %n bytes</numerusform>
        </translation>
    </message>
    <message>
        <source>长度字段为 %1，应答不会有这个长度</source>
        <translation>length field %1: no reply is that long</translation>
    </message>
</context>
<context>
    <name>vorn::LineLog</name>
    <message>
        <source>端口 %1 已打开（%2）</source>
        <translation>Port %1 opened (%2)</translation>
    </message>
    <message>
        <source>端口已关闭</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>端口已断开：%1</source>
        <translation>Port lost: %1</translation>
    </message>
    <message>
        <source>等待设备重新接入……</source>
        <translation>Waiting for the device to come back…</translation>
    </message>
    <message>
        <source>未发送：%1</source>
        <translation>Not sent: %1</translation>
    </message>
    <message>
        <source>未发送：%1（%2）</source>
        <translation>Not sent: %1 (%2)</translation>
    </message>
    <message>
        <source>端口 %1 重新接入（%2），确认是否为原设备</source>
        <translation>port %1 is back (%2); checking it is the same device</translation>
    </message>
    <message>
        <source>未恢复连接，端口已关闭：%1</source>
        <translation>not resumed, port closed: %1</translation>
    </message>
    <message>
        <source>端口 %1 已自动重新连接：%2 号设备，显示位数 %3</source>
        <translation>port %1 reconnected by itself: device %2, %3 digits</translation>
    </message>
</context>
<context>
    <name>vorn::LineModel</name>
    <message>
        <source>时间 (ms)</source>
        <translation>Time (ms)</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>Dir</translation>
    </message>
    <message>
        <source>字节</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>含义</source>
        <translation>Meaning</translation>
    </message>
</context>
<context>
    <name>vorn::LineMonitor</name>
    <message>
        <source>通讯监视</source>
        <translation>Line monitor</translation>
    </message>
    <message>
        <source>通讯记录</source>
        <translation>Line entries</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>显示哪些记录</source>
        <translation>Entries shown</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>只看发送</source>
        <translation>Sent only</translation>
    </message>
    <message>
        <source>只看接收</source>
        <translation>Received only</translation>
    </message>
    <message>
        <source>只看问题</source>
        <translation>Problems only</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>另存为…</source>
        <translation>Save as…</translation>
    </message>
    <message>
        <source>文本文件 (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>通讯记录保存失败。</source>
        <translation>The line entries could not be saved.</translation>
    </message>
</context>
<context>
    <name>vorn::MainForm</name>
    <message>
        <source>没有这个端口</source>
        <translation>No such port</translation>
    </message>
    <message>
        <source>找到  %1 号设备~！</source>
        <translation>Found device %1!</translation>
    </message>
    <message>
        <source>通讯端口已断开。请检查连接线，然后点击“打开串口”重新连接。</source>
        <translation>The serial port was disconnected. Check the cable, then click “Open” to connect again.</translation>
    </message>
    <message>
        <source>配置文件保存失败，原文件未改动。</source>
        <translation>The configuration file could not be saved; the original file is unchanged.</translation>
    </message>
    <message>
        <source>无法打开配置文件，参数表未改动。</source>
        <translation>The configuration file could not be opened; the table is unchanged.</translation>
    </message>
    <message>
        <source>部分参数超过文件中的字段宽度，保存时将被截断。仍然保存吗？</source>
        <translation>Some values are wider than their fields in the file and will be cut when saved. Save anyway?</translation>
    </message>
    <message>
        <source>RT8 参数配置与维护</source>
        <translation>RT8 configuration and service</translation>
    </message>
    <message>
        <source>参数配置</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>通道   反馈值     下限    上限   小数位  报警启动  启动值1 启动值2    智能设置</source>
        <extracomment>Column headings in one label, nine words separated by blanks; each word is drawn over its column. A heading of more than one word keeps its words together with no-break spaces (U+00A0).</extracomment>
        <translation>Ch.   Value   Lower   Upper   Dec.&#xa0;pl.   Alarm   Start&#xa0;1   Start&#xa0;2   Smart&#xa0;setting</translation>
    </message>
    <message>
        <source>低</source>
        <extracomment>Smart setting: take the low point (a button 33 pixels wide).</extracomment>
        <translation>Lo</translation>
    </message>
    <message>
        <source>高</source>
        <extracomment>Smart setting: take the high point (a button 33 pixels wide).</extracomment>
        <translation>Hi</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>获取反馈值</source>
        <translation>Live values</translation>
    </message>
    <message>
        <source>关闭反馈</source>
        <translation>Feedback off</translation>
    </message>
    <message>
        <source>反馈目标值</source>
        <translation>Target values</translation>
    </message>
    <message>
        <source>反馈原始值</source>
        <translation>Raw values</translation>
    </message>
    <message>
        <source>LED显示类型</source>
        <translation>LED display</translation>
    </message>
    <message>
        <source>关闭显示</source>
        <translation>Display off</translation>
    </message>
    <message>
        <source>显示目标值</source>
        <translation>Show target</translation>
    </message>
    <message>
        <source>显示原始值</source>
        <translation>Show raw</translation>
    </message>
    <message>
        <source>回读配置</source>
        <translation>Read back</translation>
    </message>
    <message>
        <source>下载配置</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>保存配置</source>
        <translation>Save file</translation>
    </message>
    <message>
        <source>打开配置</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>外部数据</source>
        <translation>External data</translation>
    </message>
    <message>
        <source>位置起点</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>显示端口</source>
        <translation>LED port</translation>
    </message>
    <message>
        <source>数据位数</source>
        <translation>Digits</translation>
    </message>
    <message>
        <source>显示数字</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>显示编码</source>
        <translation>Code</translation>
    </message>
    <message>
        <source>控制信息</source>
        <translation>Control</translation>
    </message>
    <message>
        <source>通讯端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>设备编号</source>
        <translation>Dev. no.</translation>
    </message>
    <message>
        <source>打开串口</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>显示位数</source>
        <translation>Digits</translation>
    </message>
    <message>
        <source>同步时间</source>
        <translation>Set clock</translation>
    </message>
    <message>
        <source>测试连接</source>
        <translation>Test link</translation>
    </message>
    <message>
        <source>修改编号</source>
        <translation>Set no.</translation>
    </message>
    <message>
        <source>开机</source>
        <translation>Turn on</translation>
    </message>
    <message>
        <source>关机</source>
        <translation>Turn off</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>端口未打开</source>
        <translation>Port not open</translation>
    </message>
    <message>
        <source>收到数据</source>
        <translation>Data received</translation>
    </message>
    <message>
        <source>端口已打开</source>
        <translation>Port open</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>lower limit</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>upper limit</translation>
    </message>
    <message>
        <source>小数位</source>
        <translation>decimal places</translation>
    </message>
    <message>
        <source>报警启动</source>
        <translation>alarm formula</translation>
    </message>
    <message>
        <source>启动值1</source>
        <translation>start value 1</translation>
    </message>
    <message>
        <source>启动值2</source>
        <translation>start value 2</translation>
    </message>
    <message>
        <source>智能设置 低</source>
        <translation>smart setting low</translation>
    </message>
    <message>
        <source>智能设置 高</source>
        <translation>smart setting high</translation>
    </message>
    <message>
        <source>智能设置 OK</source>
        <translation>smart setting OK</translation>
    </message>
    <message>
        <source>反馈值</source>
        <translation>Feedback values</translation>
    </message>
    <message>
        <source>要显示的数字</source>
        <translation>Number to show</translation>
    </message>
    <message>
        <source>第1个编码</source>
        <translation>First code</translation>
    </message>
    <message>
        <source>第2个编码</source>
        <translation>Second code</translation>
    </message>
    <message>
        <source>通讯端口已断开。同一台设备重新接入后，将自动重新打开端口。</source>
        <translation>The port was disconnected. It will be reopened when the same device is back.</translation>
    </message>
</context>
<context>
    <name>vorn::MainWindow</name>
    <message>
        <source>未打开</source>
        <translation>Not open</translation>
    </message>
    <message>
        <source>已打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>已断开</source>
        <translation>Lost</translation>
    </message>
    <message>
        <source>等待重新连接</source>
        <translation>Waiting to reconnect</translation>
    </message>
    <message>
        <source>反馈：目标值</source>
        <translation>Feedback: target</translation>
    </message>
    <message>
        <source>反馈：原始值</source>
        <translation>Feedback: raw</translation>
    </message>
    <message>
        <source>反馈：关闭</source>
        <translation>Feedback: off</translation>
    </message>
    <message>
        <source>自动重连</source>
        <translation>Auto reconnect</translation>
    </message>
    <message>
        <source>端口断开后，设备重新接入时自动打开并恢复反馈</source>
        <translation>When the port is lost, open it again as soon as the device is back and resume the feedback</translation>
    </message>
    <message>
        <source>通讯监视</source>
        <translation>Line monitor</translation>
    </message>
    <message>
        <source>通讯监视 (F12)</source>
        <translation>Line monitor (F12)</translation>
    </message>
    <message>
        <source>趋势</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>趋势 (Ctrl+T)</source>
        <translation>Trend (Ctrl+T)</translation>
    </message>
    <message>
        <source>记录</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>记录 (Ctrl+R)</source>
        <translation>Record (Ctrl+R)</translation>
    </message>
    <message>
        <source>写入记录文件失败，记录已停止；已写入的内容保留在文件中。</source>
        <translation>Writing the recording file failed, and recording stopped; what was written stays in the file.</translation>
    </message>
    <message>
        <source>端口：无</source>
        <translation>Port: none</translation>
    </message>
    <message>
        <source>端口 %1：%2</source>
        <translation>Port %1: %2</translation>
    </message>
    <message>
        <source>设备 %1</source>
        <translation>Device %1</translation>
    </message>
    <message>
        <source>发送 %1 · 接收 %2 · 丢弃 %3</source>
        <translation>Sent %1 · taken %2 · dropped %3</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>无法创建记录文件。</source>
        <translation>The recording file could not be created.</translation>
    </message>
    <message numerus="yes">
        <source>记录：%1，%n 行</source>
        <translation>
            <numerusform>Recording: %1, %n line</numerusform>
            <numerusform>Recording: %1, %n lines</numerusform>
        </translation>
    </message>
    <message>
        <source>未恢复连接：%1</source>
        <translation>not resumed: %1</translation>
    </message>
    <message>
        <source>未恢复：设备无应答</source>
        <translation>not resumed: no answer</translation>
    </message>
    <message>
        <source>未恢复：不是原设备</source>
        <translation>not resumed: another device</translation>
    </message>
    <message>
        <source>跟踪已停止</source>
        <translation>trace stopped</translation>
    </message>
    <message>
        <source>跟踪文件写入失败，不再记录：%1（%2）</source>
        <translation>trace file could not be written, tracing stopped: %1 (%2)</translation>
    </message>
    <message>
        <source>无法写入跟踪文件，程序不记录通讯。</source>
        <translation>Cannot write the trace file; the program does not trace the line.</translation>
    </message>
    <message>
        <source>已重新连接：%1 号设备，显示位数 %2</source>
        <translation>reconnected: device %1, %2 digits</translation>
    </message>
    <message>
        <source>与文件相同</source>
        <translation>matches the file</translation>
    </message>
    <message numerus="yes">
        <source>与文件有 %n 处不同</source>
        <translation>
            <numerusform>%n difference from the file</numerusform>
            <numerusform>%n differences from the file</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>vorn::NetworkPortsDialog</name>
    <message>
        <source>网络端口</source>
        <translation>Network ports</translation>
    </message>
    <message>
        <source>tcp://主机:端口 或 rfc2217://主机:端口；空着即本机串口。</source>
        <translation>tcp://HOST:PORT or rfc2217://HOST:PORT; empty: the local serial port.</translation>
    </message>
    <message>
        <source>网络地址</source>
        <translation>Network address</translation>
    </message>
    <message>
        <source>端口 %1：%2</source>
        <translation>Port %1: %2</translation>
    </message>
</context>
<context>
    <name>vorn::Requests</name>
    <message>
        <source>“%1”无效：请输入 0 到 255 之间的数字。</source>
        <translation>“%1” is not valid: enter a number from 0 to 255.</translation>
    </message>
    <message>
        <source>位置起点</source>
        <translation>Position</translation>
    </message>
    <message>
        <source>显示端口</source>
        <translation>LED port</translation>
    </message>
    <message>
        <source>数据位数</source>
        <translation>Digits</translation>
    </message>
    <message>
        <source>“数据位数”过大：最多为显示数字的位数加 10（%1）。</source>
        <translation>“Digits” is too large: at most the number of digits to show plus 10 (%1).</translation>
    </message>
    <message>
        <source>“显示数字”无效：第 %1 位不是数字 0 到 9。</source>
        <translation>The number to show is not valid: character %1 is not a digit 0 to 9.</translation>
    </message>
    <message>
        <source>显示编码 第1个编码</source>
        <translation>Code, first code</translation>
    </message>
    <message>
        <source>显示编码 第2个编码</source>
        <translation>Code, second code</translation>
    </message>
    <message>
        <source>显示位数</source>
        <translation>Digits</translation>
    </message>
</context>
<context>
    <name>vorn::RtxFile</name>
    <message>
        <source>配置中含有双引号 &quot;，无法保存。</source>
        <translation>The configuration holds a double quote (&quot;), so it cannot be saved.</translation>
    </message>
    <message>
        <source>配置中含有无法保存的字符。</source>
        <translation>The configuration holds characters that cannot be saved.</translation>
    </message>
    <message>
        <source>文件开头没有完整的配置记录。</source>
        <translation>The file does not begin with a whole configuration record.</translation>
    </message>
    <message>
        <source>配置记录中含有空字符。</source>
        <translation>The configuration record holds a null character.</translation>
    </message>
    <message>
        <source>配置记录应为 %1 个字符，文件中为 %2 个。</source>
        <translation>A configuration record has %1 characters; the one in the file has %2.</translation>
    </message>
    <message>
        <source>文件不存在：%1</source>
        <translation>No such file: %1</translation>
    </message>
    <message>
        <source>文件内容不是有效的配置记录。</source>
        <translation>The file does not hold a valid configuration record.</translation>
    </message>
    <message>
        <source>写入失败（磁盘已满或没有写入权限？）</source>
        <translation>Writing failed (disk full, or no permission to write?)</translation>
    </message>
    <message>
        <source>配置文件(%1)</source>
        <comment>file dialog filter</comment>
        <translation>Configuration files (%1)</translation>
    </message>
    <message>
        <source>这是一个文件夹，不是配置文件：%1</source>
        <translation>This is a folder, not a configuration file: %1</translation>
    </message>
</context>
<context>
    <name>vorn::SerialControl</name>
    <message>
        <source>%1：%2</source>
        <comment>device path: system reason</comment>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>当前用户没有使用这个串口的权限。在 Debian/Ubuntu 上请执行
    sudo usermod -aG dialout $USER
然后注销并重新登录。</source>
        <translation>This user may not use this serial port. On Debian/Ubuntu run
    sudo usermod -aG dialout $USER
then log out and log in again.</translation>
    </message>
    <message>
        <source>当前用户没有使用这个串口的权限。</source>
        <translation>This user may not use this serial port.</translation>
    </message>
    <message>
        <source>被另一个程序占用（%1）</source>
        <translation>held by another program (%1)</translation>
    </message>
    <message>
        <source>设备服务器说“%1”，然后断开了连接</source>
        <translation>the device server said “%1” and closed the connection</translation>
    </message>
    <message>
        <source>设备已不在：%1 被拔出或挂断</source>
        <translation>the device is gone: %1 was unplugged or hung up</translation>
    </message>
    <message>
        <source>被进程 %1 占用</source>
        <translation>held by process %1</translation>
    </message>
    <message>
        <source>被 %1 占用（进程 %2）</source>
        <translation>held by %1, process %2</translation>
    </message>
</context>
<context>
    <name>vorn::StreamKeeper</name>
    <message numerus="yes">
        <source>%n 秒没有收到数值</source>
        <translation>
            <numerusform>no values for %n second</numerusform>
            <numerusform>no values for %n seconds</numerusform>
        </translation>
    </message>
    <message>
        <source>回读配置：%1 ms 内没有收到有效应答</source>
        <translation>read-back: no valid reply within %1 ms</translation>
    </message>
</context>
<context>
    <name>vorn::TableCompare</name>
    <message>
        <source>下限</source>
        <translation>lower limit</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>upper limit</translation>
    </message>
    <message>
        <source>小数位</source>
        <translation>decimal places</translation>
    </message>
    <message>
        <source>报警启动</source>
        <translation>alarm formula</translation>
    </message>
    <message>
        <source>启动值1</source>
        <translation>start value 1</translation>
    </message>
    <message>
        <source>启动值2</source>
        <translation>start value 2</translation>
    </message>
    <message>
        <source>%1（代码 0x%2）</source>
        <translation>%1 (code 0x%2)</translation>
    </message>
    <message>
        <source>（超出 -32768 到 32767）</source>
        <translation>(outside -32768 to 32767)</translation>
    </message>
</context>
<context>
    <name>vorn::TrendWindow</name>
    <message>
        <source>趋势</source>
        <translation>Trend</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>原始值</source>
        <translation>Raw values</translation>
    </message>
    <message>
        <source>显示 %1#</source>
        <translation>Show %1#</translation>
    </message>
    <message>
        <source>趋势图</source>
        <translation>Trend chart</translation>
    </message>
    <message>
        <source>时间跨度</source>
        <translation>Time span</translation>
    </message>
    <message>
        <source>1 分钟</source>
        <translation>1 minute</translation>
    </message>
    <message>
        <source>10 分钟</source>
        <translation>10 minutes</translation>
    </message>
    <message>
        <source>1 小时</source>
        <translation>1 hour</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>导出图片…</source>
        <translation>Export image…</translation>
    </message>
    <message>
        <source>导出数据…</source>
        <translation>Export data…</translation>
    </message>
    <message>
        <source>目标值</source>
        <translation>Target values</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>图片保存失败。</source>
        <translation>The image could not be saved.</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>数据保存失败。</source>
        <translation>The data could not be saved.</translation>
    </message>
    <message>
        <source>正在导出数据…</source>
        <translation>Exporting data…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>导出数据</source>
        <translation>Export data</translation>
    </message>
</context>
<context>
    <name>vorn::ctl::Controller</name>
    <message>
        <source>不是要等的应答</source>
        <translation>not the reply waited for</translation>
    </message>
    <message>
        <source>问的是 %1 号，却收到 %2 号（显示位数 %3）的应答，不予采信。</source>
        <translation>Asked number %1, but number %2 (display digits %3) answered; the answer is not taken.</translation>
    </message>
    <message>
        <source>无法写入跟踪文件 %1：%2</source>
        <translation>Cannot write the trace file %1: %2</translation>
    </message>
    <message>
        <source>使用端口 %1（%2）。</source>
        <translation>Using port %1 (%2).</translation>
    </message>
    <message>
        <source>命令没能全部发出，通讯端口可能已断开。</source>
        <translation>The command did not go out whole; the serial port may be disconnected.</translation>
    </message>
    <message>
        <source>通讯端口已断开：%1</source>
        <translation>The serial port was lost: %1</translation>
    </message>
    <message>
        <source>%1：%2 ms 内没有收到有效应答。</source>
        <translation>%1: no valid reply within %2 ms.</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>设备</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>现在</source>
        <translation>Now</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>序列号 %1</source>
        <translation>serial number %1</translation>
    </message>
    <message>
        <source>可以打开</source>
        <translation>opens</translation>
    </message>
    <message>
        <source>打不开：%1</source>
        <translation>does not open: %1</translation>
    </message>
    <message>
        <source>，</source>
        <translation>, </translation>
    </message>
    <message>
        <source>端口 1 到 16 都没有对应的串口设备。</source>
        <translation>No serial device stands behind ports 1 to 16.</translation>
    </message>
    <message>
        <source>测试连接</source>
        <translation>Connection test</translation>
    </message>
    <message>
        <source>线上如果有几台设备，它们会同时应答 255 号；请用 --address 指定编号，或用 scan 逐个查找。</source>
        <translation>Several devices on one line all answer number 255 at once; give a number with --address, or find them one by one with scan.</translation>
    </message>
    <message>
        <source>%1 到 %2 号都没有应答（每个号等 %3 ms）。</source>
        <translation>No answer from numbers %1 to %2 (%3 ms each).</translation>
    </message>
    <message>
        <source>不知道设备的显示位数，没有改号；请用 --digits 给出显示位数。</source>
        <translation>The device&apos;s display digits are not known, so it was not renumbered; give them with --digits.</translation>
    </message>
    <message>
        <source>改号后测试连接 %1 号</source>
        <translation>Connection test to number %1 after renumbering</translation>
    </message>
    <message>
        <source>回读配置</source>
        <translation>Read back</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Lower</translation>
    </message>
    <message>
        <source>上限</source>
        <translation>Upper</translation>
    </message>
    <message>
        <source>小数位</source>
        <translation>Decimals</translation>
    </message>
    <message>
        <source>报警启动</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>启动值1</source>
        <translation>Start 1</translation>
    </message>
    <message>
        <source>启动值2</source>
        <translation>Start 2</translation>
    </message>
    <message>
        <source>%1 通道的上限（下限加量程）超出 -32768 到 32767，无法显示。</source>
        <translation>Upper limit (lower limit plus span) outside -32768 to 32767, cannot be shown: %1.</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>%1 通道的上限（下限加量程）超出 -32768 到 32767，无法写成文本；没有写文件。</source>
        <translation>Upper limit (lower limit plus span) outside -32768 to 32767, cannot be written as text: %1. No file written.</translation>
    </message>
    <message>
        <source>配置文件保存失败，没有写文件。</source>
        <translation>The configuration file could not be saved; no file written.</translation>
    </message>
    <message>
        <source>部分参数超过文件中的字段宽度，保存时将被截断；没有写文件（--allow-cut 照样保存）。</source>
        <translation>Some values are wider than their fields in the file and would be cut; no file written (--allow-cut saves them cut).</translation>
    </message>
    <message>
        <source>部分参数超过文件中的字段宽度，已截断保存：</source>
        <translation>Some values were wider than their fields in the file and were saved cut:</translation>
    </message>
    <message>
        <source>配置文件保存失败，原文件未改动。
%1
%2</source>
        <translation>The configuration file could not be saved; the original file is unchanged.
%1
%2</translation>
    </message>
    <message>
        <source>无法读取配置文件，没有发送。
%1
%2</source>
        <translation>The configuration file could not be read; nothing was sent.
%1
%2</translation>
    </message>
    <message>
        <source>已下载，核对一致。</source>
        <translation>Downloaded and verified.</translation>
    </message>
    <message>
        <source>反馈原始值</source>
        <translation>Raw values</translation>
    </message>
    <message>
        <source>反馈目标值</source>
        <translation>Target values</translation>
    </message>
    <message numerus="yes">
        <source>收到 %n 个无效应答，最后一个：%1</source>
        <translation>
            <numerusform>%n invalid reply received: %1</numerusform>
            <numerusform>%n invalid replies received, the last: %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>核对不一致：设备中有 %n 处与文件不同。</source>
        <translation>
            <numerusform>Verify failed: %n value in the device differs from the file.</numerusform>
            <numerusform>Verify failed: %n values in the device differ from the file.</numerusform>
        </translation>
    </message>
    <message>
        <source>结果没能写到标准输出：%1</source>
        <translation>The results could not be written to standard output: %1</translation>
    </message>
    <message>
        <source>跟踪文件 %1 写入失败，不再记录：%2</source>
        <translation>trace file %1 could not be written, tracing stopped: %2</translation>
    </message>
    <message>
        <source>反馈目标值：记录不断到来，却从未停顿 %1 ms；设备要在记录之间停顿这么久，才能读取记录。</source>
        <translation>Target values: records arrive but never pause for %1 ms, which the device needs to be read.</translation>
    </message>
    <message>
        <source>端口 %1 的网络端口“%2”无效：%3</source>
        <translation>The network port “%2” of port %1 is not valid: %3</translation>
    </message>
    <message numerus="yes">
        <source>%1：%2 ms 内没有收到新的值，已停止（已收到 %n 组）。</source>
        <translation>
            <numerusform>%1: no new value within %2 ms; stopped (after %n set of values).</numerusform>
            <numerusform>%1: no new value within %2 ms; stopped (after %n sets of values).</numerusform>
        </translation>
    </message>
    <message>
        <source>实时值：%1（%2 号设备，显示位数 %3）</source>
        <translation>stream: %1 (device %2, %3 digits)</translation>
    </message>
    <message numerus="yes">
        <source>实时值：%1（%2），%n 秒后再试</source>
        <translation>
            <numerusform>stream: %1 (%2), trying again in %n second</numerusform>
            <numerusform>stream: %1 (%2), trying again in %n seconds</numerusform>
        </translation>
    </message>
    <message>
        <source>配置文件 %1 中 %2# 的参数无法转换，没有发送。</source>
        <translation>A field of %2# in the configuration file %1 does not convert; nothing was sent.</translation>
    </message>
    <message>
        <source>无法建立文件夹 %1，没有发送。</source>
        <translation>The folder %1 could not be made; nothing was sent.</translation>
    </message>
    <message>
        <source>回读没有应答</source>
        <translation>no answer to the read-back</translation>
    </message>
    <message>
        <source>%1 号（显示位数 %2）：回读没有应答
</source>
        <translation>%1 (%2 digits): no answer to the read-back
</translation>
    </message>
    <message>
        <source>%1 号（显示位数 %2）：与文件相同
</source>
        <translation>%1 (%2 digits): matches the file
</translation>
    </message>
    <message numerus="yes">
        <source>%1 号（显示位数 %2）：与文件有 %n 处不同
</source>
        <translation>
            <numerusform>%1 (%2 digits): %n difference from the file
</numerusform>
            <numerusform>%1 (%2 digits): %n differences from the file
</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n 台设备应答：</source>
        <translation>
            <numerusform>%n device answered: </numerusform>
            <numerusform>%n devices answered: </numerusform>
        </translation>
    </message>
    <message>
        <source>%1 台与文件相同，%2 台不同，%3 台没能回读。
</source>
        <translation>%1 match the file, %2 differ, %3 could not be read back.
</translation>
    </message>
    <message>
        <source>%1 号 %2# 的上限（下限加量程）超出 -32768 到 32767，无法写成文本；没有写 %3。</source>
        <translation>The upper limit (lower limit plus span) of %2# on device %1 is outside -32768 to 32767 and cannot be written as text; %3 was not written.</translation>
    </message>
    <message>
        <source>%1 号的部分参数超过文件中的字段宽度，没有写 %2。</source>
        <translation>Some fields of device %1 are longer than the file&apos;s fields; %2 was not written.</translation>
    </message>
    <message>
        <source>配置文件保存失败。
%1
%2</source>
        <translation>The configuration file could not be saved.
%1
%2</translation>
    </message>
</context>
<context>
    <name>vorn::ctl::Options</name>
    <message>
        <source>（rt8ctl --help 列出命令和选项。）</source>
        <translation>(rt8ctl --help lists the commands and options.)</translation>
    </message>
    <message>
        <source>“%1”的值“%2”无效：请输入 %3 之间的数字。</source>
        <translation>The value “%2” of “%1” is not valid: enter a number from %3.</translation>
    </message>
    <message>
        <source>命令行有误：%1</source>
        <translation>Bad command line: %1</translation>
    </message>
    <message>
        <source>“--port”不能为空。</source>
        <translation>“--port” may not be empty.</translation>
    </message>
    <message>
        <source>“%1”不是 1 到 16 之间的端口号。</source>
        <translation>“%1” is not a port number from 1 to 16.</translation>
    </message>
    <message>
        <source>0 到 255</source>
        <translation>0 to 255</translation>
    </message>
    <message>
        <source>1 到 3600000（毫秒）</source>
        <translation>1 to 3600000 (milliseconds)</translation>
    </message>
    <message>
        <source>“--lang”的值“%1”无效：请写 en 或 zh。</source>
        <translation>The value “%1” of “--lang” is not valid: write en or zh.</translation>
    </message>
    <message>
        <source>没有给出命令。</source>
        <translation>No command given.</translation>
    </message>
    <message>
        <source>“display”后面要写 mode、number 或 code。</source>
        <translation>“display” must be followed by mode, number or code.</translation>
    </message>
    <message>
        <source>没有“%1”这个命令。</source>
        <translation>There is no command “%1”.</translation>
    </message>
    <message>
        <source>%1 的选项有误：%2</source>
        <translation>Bad options for %1: %2</translation>
    </message>
    <message>
        <source>用法：rt8ctl [全局选项] %1</source>
        <translation>Usage: rt8ctl [global options] %1</translation>
    </message>
    <message>
        <source>“--from”（%1）大于“--to”（%2）。</source>
        <translation>“--from” (%1) is greater than “--to” (%2).</translation>
    </message>
    <message>
        <source>write 要读一个 .RTX 文件，不能读标准输入。</source>
        <translation>write reads an .RTX file, not standard input.</translation>
    </message>
    <message>
        <source>stream 后面要写 raw 或 target。</source>
        <translation>stream must be followed by raw or target.</translation>
    </message>
    <message>
        <source>1 到 1073741824</source>
        <translation>1 to 1073741824</translation>
    </message>
    <message>
        <source>0 到 1000000（不含 0）</source>
        <translation>0 to 1000000 (not 0)</translation>
    </message>
    <message>
        <source>power 后面要写 on 或 off。</source>
        <translation>power must be followed by on or off.</translation>
    </message>
    <message>
        <source>“--at”的值“%1”无效：请写成 YYYY-MM-DD hh:mm:ss，例如 2026-12-06 08:15:27。</source>
        <translation>The value “%1” of “--at” is not valid: write it as YYYY-MM-DD hh:mm:ss, for example 2026-12-06 08:15:27.</translation>
    </message>
    <message>
        <source>display mode 后面要写 off、target 或 raw。</source>
        <translation>display mode must be followed by off, target or raw.</translation>
    </message>
    <message>
        <source>0 到 254</source>
        <translation>0 to 254</translation>
    </message>
    <message>
        <source>（255 号是每台设备都应答的号码。）</source>
        <translation>(Every device answers to 255.)</translation>
    </message>
    <message>
        <source>显示这份说明。</source>
        <translation>Show this help.</translation>
    </message>
    <message>
        <source>显示版本。</source>
        <translation>Show the version.</translation>
    </message>
    <message>
        <source>通讯端口：端口号 1-16（与窗口的编号相同，包括 VORNRT8_PORTS）、设备路径，或网络端口 tcp://HOST:PORT、rfc2217://HOST:PORT。默认：第一个能打开的端口。</source>
        <translation>Serial port: number 1-16 (as in the window, VORNRT8_PORTS included), device path, or network port tcp://HOST:PORT or rfc2217://HOST:PORT. Default: the first that opens.</translation>
    </message>
    <message>
        <source>设备编号 0-255（默认 255：任何设备都应答）。</source>
        <translation>Device number 0-255 (default 255: any device).</translation>
    </message>
    <message>
        <source>每个应答最多等这么久（默认 2000；scan 为 100）；stream 在这么久没有新的值时结束。</source>
        <translation>Wait this long for each reply (default 2000; scan 100); stream ends when no new value comes for this long.</translation>
    </message>
    <message>
        <source>网络端口：连接和 RFC 2217 协商最多等这么久（默认 3000）。</source>
        <translation>Network ports: connecting and the RFC 2217 negotiation take at most this long (default 3000).</translation>
    </message>
    <message>
        <source>把收发的每一帧和它的结果追加到 FILE，每帧一行。</source>
        <translation>Append every frame in and out, and what became of it, to FILE, one line each.</translation>
    </message>
    <message>
        <source>消息的语言：en（英文）或 zh（中文）。默认：系统语言是英文时用英文，否则用中文。</source>
        <translation>Language of the messages: en (English) or zh (Chinese). Default: English when the system&apos;s is, otherwise Chinese.</translation>
    </message>
    <message>
        <source>用法：rt8ctl [全局选项] 命令 [参数]</source>
        <translation>Usage: rt8ctl [global options] COMMAND [ARGS]</translation>
    </message>
    <message>
        <source>rt8ctl 从脚本配置 RT8 设备：经串口（38400 8N1）或串口服务器。</source>
        <translation>rt8ctl configures RT8 devices from scripts, over a serial line (38400 8N1)
or a serial device server.</translation>
    </message>
    <message>
        <source>全局选项（写在命令前面）：</source>
        <translation>Global options (before the command):</translation>
    </message>
    <message>
        <source>“--port”的网络端口“%1”无效：%2</source>
        <translation>The network port “%1” of “--port” is not valid: %2</translation>
    </message>
    <message>
        <source>1 到 600000（毫秒）</source>
        <translation>1 to 600000 (milliseconds)</translation>
    </message>
    <message>
        <source>第一个编号（0）。</source>
        <translation>First number (0).</translation>
    </message>
    <message>
        <source>最后一个编号（254）。</source>
        <translation>Last number (254).</translation>
    </message>
    <message>
        <source>给设备的显示位数（默认：设备现有的，由连接测试得知）。</source>
        <translation>Display-digit count to give the device (default: the one it has, from a connection test).</translation>
    </message>
    <message>
        <source>发送的位数（4）。</source>
        <translation>Digits to send (4).</translation>
    </message>
    <message>
        <source>回读参数表，与文件逐项核对。</source>
        <translation>Read the table back and compare it with the file.</translation>
    </message>
    <message>
        <source>文本比文件中的字段长、会被截断时也照样保存（窗口会先询问）。</source>
        <translation>Save even when a text is longer than its field in the file and would be cut (the window asks first).</translation>
    </message>
    <message>
        <source>输出 N 行后结束。</source>
        <translation>Stop after N lines.</translation>
    </message>
    <message>
        <source>S 秒后结束。</source>
        <translation>Stop after S seconds.</translation>
    </message>
    <message>
        <source>要设置的时间（默认：现在）。</source>
        <translation>The time to set (default: now).</translation>
    </message>
    <message>
        <source>起始位置（46）。</source>
        <translation>Start position (46).</translation>
    </message>
    <message>
        <source>显示端口（1）。</source>
        <translation>Display port (1).</translation>
    </message>
    <message>
        <source>选项：</source>
        <translation>Options:</translation>
    </message>
    <message>
        <source>端口断开或设备不再发送时不结束：等同一台设备回来（编号和显示位数与第一次应答相同），接着输出。</source>
        <translation>Do not end when the port is lost or the device falls silent: wait for the same device (the number and digit count of its first answer) and go on.</translation>
    </message>
    <message>
        <source>命令：
  ports                        端口 1-16：编号、设备、现在能否打开
  find                         连接测试：设备编号和显示位数
  scan [--from A] [--to B]     逐个对编号 A..B（0..254）做连接测试
  renumber NEW [--digits D]    把设备编号改为 NEW（发给 255 号：线上的每台设备
                               都会改用这个编号）
  read FILE.RTX|-              回读参数表，存入文件或打印出来
  write FILE.RTX [--verify]    下载文件中的参数表；--verify 回读核对
  audit FILE.RTX [--scan [--from A] [--to B]] [--save-found DIR]
                               回读参数表，与文件逐项比较（不改动设备）
  stream raw|target [--count N] [--seconds S] [--reconnect]
                               实时值，CSV 格式：time,ch0..ch9
  power on|off
  clock [--at &quot;YYYY-MM-DD hh:mm:ss&quot;]
  display mode off|target|raw
  display number TEXT [--start S] [--port P] [--digits N]
  display code A B [--start S] [--port P]

rt8ctl 命令 --help 列出该命令的选项。
退出码：0 完成，1 超时内没有有效应答，2 命令行或参数有误（什么都没有发送），
3 端口没有打开或已断开，4 文件读写失败，5 --verify 或 audit 发现不一致。
</source>
        <translation>Commands:
  ports                        ports 1-16: number, device, whether it opens now
  find                         connection test: number and display digits
  scan [--from A] [--to B]     connection test to each number A..B (0..254)
  renumber NEW [--digits D]    give the device number NEW (sent to 255: every
                               device on the line takes it)
  read FILE.RTX|-              read the table back into a file, or print it
  write FILE.RTX [--verify]    download a file&apos;s table; --verify reads it back
  audit FILE.RTX [--scan [--from A] [--to B]] [--save-found DIR]
                               read the table back and compare it with the
                               file, field by field (the device is not changed)
  stream raw|target [--count N] [--seconds S] [--reconnect]
                               live values as CSV: time,ch0..ch9
  power on|off
  clock [--at &quot;YYYY-MM-DD hh:mm:ss&quot;]
  display mode off|target|raw
  display number TEXT [--start S] [--port P] [--digits N]
  display code A B [--start S] [--port P]

rt8ctl COMMAND --help shows a command&apos;s options.
Exit codes: 0 done, 1 no valid reply in time, 2 bad command line or field
(nothing sent), 3 port not opened or lost, 4 file not read or written, 5 --verify
or audit found a difference.
</translation>
    </message>
    <message>
        <source>find、scan、read -、ports、stream、audit：每行一个 JSON 对象。</source>
        <translation>find, scan, read -, ports, stream, audit: one JSON object per line.</translation>
    </message>
    <message>
        <source>逐个对编号 A..B 做连接测试，比较每台应答的设备（不用 --address）。</source>
        <translation>Connection test to each number A..B; compare every device that answers (not with --address).</translation>
    </message>
    <message>
        <source>把每台设备回读的参数表存为 DIR/编号.RTX。</source>
        <translation>Save each device&apos;s table as read back as DIR/NUMBER.RTX.</translation>
    </message>
    <message>
        <source>“--from”和“--to”只与“--scan”一起用。</source>
        <translation>“--from” and “--to” go with “--scan” only.</translation>
    </message>
    <message>
        <source>“--scan”比较线上每台设备，不能同时给出“--address”。</source>
        <translation>“--scan” compares every device on the line; it does not go with “--address”.</translation>
    </message>
    <message>
        <source>audit 要读一个 .RTX 文件，不能读标准输入。</source>
        <translation>audit reads a .RTX file, not standard input.</translation>
    </message>
    <message>
        <source>“--save-found”不能为空。</source>
        <translation>“--save-found” must not be empty.</translation>
    </message>
</context>
<context>
    <name>vorn::ctl::Verify</name>
    <message>
        <source>参数表</source>
        <translation>table</translation>
    </message>
    <message>
        <source>无法转换</source>
        <translation>does not convert</translation>
    </message>
    <message>
        <source>回读数据</source>
        <translation>read-back data</translation>
    </message>
    <message>
        <source>%1：文件 %2，设备 %3</source>
        <translation>%1: file %2, device %3</translation>
    </message>
    <message>
        <source>%1# %2：文件 %3，设备 %4</source>
        <translation>%1# %2: file %3, device %4</translation>
    </message>
    <message numerus="yes">
        <source>%n 字节</source>
        <translation>
            <numerusform>%n byte</numerusform>
            <numerusform>%n bytes</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>vorn::gw::Config</name>
    <message>
        <source>密码不写在配置里；请把它写进一个只有本用户能读的文件，用 password_file 指向它</source>
        <translation>no password in the configuration; put it in a file only this user can read and name it in password_file</translation>
    </message>
    <message>
        <source>不认识这个键</source>
        <translation>unknown key</translation>
    </message>
    <message>
        <source>缺少这个键</source>
        <translation>missing</translation>
    </message>
    <message>
        <source>应是文本</source>
        <translation>must be a text</translation>
    </message>
    <message>
        <source>不能为空</source>
        <translation>must not be empty</translation>
    </message>
    <message>
        <source>应是 %1 到 %2 的整数</source>
        <translation>must be a whole number from %1 to %2</translation>
    </message>
    <message>
        <source>无法读取 %1：%2</source>
        <translation>cannot read %1: %2</translation>
    </message>
    <message>
        <source>不能含有 +、# 或空字符</source>
        <translation>must not contain +, # or a null character</translation>
    </message>
    <message>
        <source>不能含有 /</source>
        <translation>must not contain /</translation>
    </message>
    <message>
        <source>不能以 / 开头或结尾，也不能含有 //</source>
        <translation>must not begin or end with / nor contain //</translation>
    </message>
    <message>
        <source>应是对象</source>
        <translation>must be an object</translation>
    </message>
    <message>
        <source>有密码文件却没有 username</source>
        <translation>a password file needs a username</translation>
    </message>
    <message>
        <source>mqtts:// 需要 CA 证书文件</source>
        <translation>mqtts:// needs a CA certificate file</translation>
    </message>
    <message>
        <source>只用于 mqtts://</source>
        <translation>only for mqtts://</translation>
    </message>
    <message>
        <source>应是数组</source>
        <translation>must be an array</translation>
    </message>
    <message>
        <source>至少要有一台设备</source>
        <translation>at least one device is needed</translation>
    </message>
    <message>
        <source>“gateway”留给网关自己的状态</source>
        <translation>&quot;gateway&quot; is kept for the gateway&apos;s own status</translation>
    </message>
    <message>
        <source>与前面的设备重名</source>
        <translation>already the name of an earlier device</translation>
    </message>
    <message>
        <source>端口号应是 %1 到 %2</source>
        <translation>a port number is %1 to %2</translation>
    </message>
    <message>
        <source>应是 raw 或 target</source>
        <translation>must be raw or target</translation>
    </message>
    <message>
        <source>应是 mqtt://主机[:端口] 或 mqtts://主机[:端口]，而不是 %1</source>
        <translation>must be mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not %1</translation>
    </message>
    <message>
        <source>不是有效的 JSON（第 %1 个字符处：%2）</source>
        <translation>not valid JSON (at character %1: %2)</translation>
    </message>
    <message>
        <source>应是 JSON 对象</source>
        <translation>must be a JSON object</translation>
    </message>
    <message>
        <source>设备 %1（%2）与设备 %3（%4）在同一条线路上</source>
        <translation>device %1 (%2) and device %3 (%4) are on the same line</translation>
    </message>
    <message>
        <source>网络端口不写用户名或密码：%1</source>
        <translation>a network port takes no user name or password: %1</translation>
    </message>
    <message>
        <source>应是 tcp://主机:端口 或 rfc2217://主机:端口，而不是 %1</source>
        <translation>must be tcp://HOST:PORT or rfc2217://HOST:PORT, not %1</translation>
    </message>
    <message>
        <source>网络端口 %1 不可用：%2</source>
        <translation>network port %1 is not usable: %2</translation>
    </message>
    <message>
        <source>用户名写在 username，密码写在 password_file，不写在网址里：%1</source>
        <translation>the user name goes in username, the password in password_file, not in the URL: %1</translation>
    </message>
    <message>
        <source>%1 中 %2# 的参数无法转换</source>
        <translation>a field of %2# in %1 does not convert</translation>
    </message>
    <message>
        <source>应是 地址:端口，如 127.0.0.1:9108</source>
        <translation>must be ADDRESS:PORT, such as 127.0.0.1:9108</translation>
    </message>
    <message>
        <source>与 homeassistant 一起用时只能含有字母、数字、_ 和 -</source>
        <translation>with homeassistant only letters, digits, _ and -</translation>
    </message>
    <message>
        <source>缺少这个键（没有 modbus 时必须有它）</source>
        <translation>missing (needed without modbus)</translation>
    </message>
    <message>
        <source>应是 主机:端口（IPv4 地址、[IPv6 地址] 或主机名，端口 1 到 65535），而不是 %1</source>
        <translation>must be HOST:PORT (an IPv4 address, [an IPv6 address] or a host name, port 1 to 65535), not %1</translation>
    </message>
    <message>
        <source>应是 ABCD、CDAB、BADC 或 DCBA</source>
        <translation>must be ABCD, CDAB, BADC or DCBA</translation>
    </message>
    <message>
        <source>缺少这个键：地址 %1 不能作 Modbus 单元号（1 到 247）</source>
        <translation>missing: address %1 cannot be a Modbus unit (1 to 247)</translation>
    </message>
    <message>
        <source>单元 %1 已是设备 %2 的</source>
        <translation>unit %1 is already device %2&apos;s</translation>
    </message>
    <message>
        <source>；端口 %1 低于 %2，需要 CAP_NET_BIND_SERVICE 权限（systemd 单元里写 AmbientCapabilities=CAP_NET_BIND_SERVICE）</source>
        <translation>; port %1 is below %2 and needs the capability CAP_NET_BIND_SERVICE (in a systemd unit: AmbientCapabilities=CAP_NET_BIND_SERVICE)</translation>
    </message>
</context>
<context>
    <name>vorn::gw::Gateway</name>
    <message numerus="yes">
        <source>MQTT 服务器不在时，队列满了，丢弃了 %n 组最早的数值。</source>
        <translation>
            <numerusform>while the broker was away the queue was full: %n oldest set of values dropped.</numerusform>
            <numerusform>while the broker was away the queue was full: %n oldest sets of values dropped.</numerusform>
        </translation>
    </message>
    <message>
        <source>配置文件（JSON）</source>
        <translation>configuration file (JSON)</translation>
    </message>
    <message>
        <source>只检查配置文件，然后退出</source>
        <translation>check the configuration file and exit</translation>
    </message>
    <message>
        <source>语言：en 或 zh</source>
        <translation>language: en or zh</translation>
    </message>
    <message>
        <source>缺少 --config FILE</source>
        <translation>--config FILE is missing</translation>
    </message>
    <message numerus="yes">
        <source>配置无误：%n 台设备。</source>
        <translation>
            <numerusform>configuration sound: %n device.</numerusform>
            <numerusform>configuration sound: %n devices.</numerusform>
        </translation>
    </message>
    <message>
        <source>无法启动 MQTT 客户端：%1</source>
        <translation>cannot start the MQTT client: %1</translation>
    </message>
    <message>
        <source>已连接 MQTT 服务器 %1。</source>
        <translation>connected to MQTT broker %1.</translation>
    </message>
    <message>
        <source>无法连接 MQTT 服务器 %1（%2），稍后再试；数值先排队（最多 %3 组）。</source>
        <translation>no connection to MQTT broker %1 (%2), trying again; values wait in a queue (at most %3).</translation>
    </message>
    <message>
        <source>MQTT 服务器 %1，主题前缀 %2</source>
        <translation>MQTT broker %1, topic prefix %2</translation>
    </message>
    <message>
        <source>设备 %1：端口 %2，地址 %3</source>
        <translation>device %1: port %2, address %3</translation>
    </message>
    <message>
        <source>设备 %1：%2（%3，%4 号设备，显示位数 %5）</source>
        <translation>device %1: %2 (%3, device %4, %5 digits)</translation>
    </message>
    <message numerus="yes">
        <source>设备 %1：%2（%3：%4），%n 秒后再试</source>
        <translation>
            <numerusform>device %1: %2 (%3: %4), trying again in %n second</numerusform>
            <numerusform>device %1: %2 (%3: %4), trying again in %n seconds</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>设备 %1：%2（%3；它的数值不发布），%n 秒后再试</source>
        <translation>
            <numerusform>device %1: %2 (%3; its values are not published), trying again in %n second</numerusform>
            <numerusform>device %1: %2 (%3; its values are not published), trying again in %n seconds</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>设备 %1：%2（%3），%n 秒后再试</source>
        <translation>
            <numerusform>device %1: %2 (%3), trying again in %n second</numerusform>
            <numerusform>device %1: %2 (%3), trying again in %n seconds</numerusform>
        </translation>
    </message>
    <message>
        <source>设备 %1：参数表与 %2 相同</source>
        <translation>device %1: the table matches %2</translation>
    </message>
    <message numerus="yes">
        <source>设备 %1：参数表与 %2 有 %n 处不同</source>
        <translation>
            <numerusform>device %1: the table has %n difference from %2</numerusform>
            <numerusform>device %1: the table has %n differences from %2</numerusform>
        </translation>
    </message>
    <message>
        <source>设备 %1：没能回读参数表（%2），照样发布数值</source>
        <translation>device %1: the table could not be read back (%2); values are published all the same</translation>
    </message>
    <message>
        <source>无法在 %1 上提供指标：%2</source>
        <translation>cannot serve the metrics on %1: %2</translation>
    </message>
    <message>
        <source>Modbus TCP：%1，字序 %2，最多 %3 个客户端</source>
        <translation>Modbus TCP: %1, word order %2, at most %3 clients</translation>
    </message>
    <message>
        <source>%1，Modbus 单元 %2</source>
        <translation>%1, Modbus unit %2</translation>
    </message>
    <message>
        <source>Modbus TCP 在 %1 上应答（只读，无认证）。</source>
        <translation>Modbus TCP answering on %1 (read-only, no authentication).</translation>
    </message>
    <message>
        <source>把 RT8 设备的实时数值发布到 MQTT 服务器，也以 Modbus TCP、Prometheus 指标和 Home Assistant 自动发现提供。</source>
        <translation>Publishes the live values of RT8 devices to an MQTT broker, and serves them over Modbus TCP, as Prometheus metrics and through Home Assistant discovery.</translation>
    </message>
</context>
<context>
    <name>vorn::gw::HomeAssistant</name>
    <message>
        <source>设备 %1 已不在配置中：清除了它在 Home Assistant 中的发现配置。</source>
        <translation>device %1 is no longer configured: cleared its discovery configs in Home Assistant.</translation>
    </message>
</context>
<context>
    <name>vorn::gw::ModbusServer</name>
    <message>
        <source>无法在 %1 上接受 Modbus TCP 连接：%2</source>
        <translation>cannot take Modbus TCP connections on %1: %2</translation>
    </message>
</context>
<context>
    <name>vorn::gw::MqttClient</name>
    <message>
        <source>另一个客户端以同一个 client id %1 接管了连接</source>
        <translation>another client with client id %1 took over the connection</translation>
    </message>
</context>
<context>
    <name>vorn::gw::ServiceNotifier</name>
    <message>
        <source>%1 台设备在线（共 %2 台）</source>
        <translation>%1 of %2 devices online</translation>
    </message>
</context>
</TS>
