<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>dialog_ctrl</name>
    <message>
        <source>控制</source>
        <translation>Control</translation>
    </message>
    <message>
        <source>控制属性</source>
        <translation>Control attributes</translation>
    </message>
    <message>
        <source>选择操作值:</source>
        <translation>Value:</translation>
    </message>
    <message>
        <source>&lt;html&gt;延时时间:</source>
        <translation>&lt;html&gt;Delay:</translation>
    </message>
    <message>
        <source>s</source>
        <translation>s</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>ms</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>带值选择</source>
        <translation>Select with value</translation>
    </message>
    <message>
        <source>操作</source>
        <translation>Operate</translation>
    </message>
    <message>
        <source>撤销</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>仅状态</source>
        <translation>Status only</translation>
    </message>
    <message>
        <source>常规直控</source>
        <translation>Direct, normal security</translation>
    </message>
    <message>
        <source>常规选控</source>
        <translation>SBO, normal security</translation>
    </message>
    <message>
        <source>增强直控</source>
        <translation>Direct, enhanced security</translation>
    </message>
    <message>
        <source>增强选控</source>
        <translation>SBO, enhanced security</translation>
    </message>
    <message>
        <source>未知模型%1</source>
        <translation>Unknown model %1</translation>
    </message>
    <message>
        <source>不可控对象</source>
        <translation>Not controllable</translation>
    </message>
    <message>
        <source>分 (false)</source>
        <translation>Off (false)</translation>
    </message>
    <message>
        <source>合 (true)</source>
        <translation>On (true)</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>降</source>
        <translation>Lower</translation>
    </message>
    <message>
        <source>升</source>
        <translation>Higher</translation>
    </message>
    <message>
        <source>控制值</source>
        <translation>Control value</translation>
    </message>
    <message>
        <source>类型不支持</source>
        <translation>Type not supported</translation>
    </message>
    <message>
        <source>控制模型</source>
        <translation>Control model</translation>
    </message>
    <message>
        <source>操作值无效</source>
        <translation>invalid value</translation>
    </message>
    <message>
        <source>延时时间无效</source>
        <translation>invalid delay</translation>
    </message>
    <message>
        <source>失败:</source>
        <translation>Failed: </translation>
    </message>
    <message>
        <source>执行中...</source>
        <translation>Running...</translation>
    </message>
    <message>
        <source>请求未能发出</source>
        <translation>request not sent</translation>
    </message>
    <message>
        <source>确认对装置 %1 的 %2 执行操作?
操作值: %3</source>
        <translation>Operate %2 of device %1?
Value: %3</translation>
    </message>
    <message>
        <source>确认操作</source>
        <translation>Confirm operation</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>装置拒绝</source>
        <translation>refused by the device</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>Succeeded</translation>
    </message>
</context>
<context>
    <name>dialog_filetran</name>
    <message>
        <source>文件传输服务</source>
        <translation>File transfer</translation>
    </message>
    <message>
        <source>选择服务器</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>输入路径</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>获得文件列表</source>
        <translation>Get file list</translation>
    </message>
    <message>
        <source>文件上载</source>
        <translation>Fetch file</translation>
    </message>
    <message>
        <source>删除文件</source>
        <translation>Delete file</translation>
    </message>
    <message>
        <source>下装文件名称:</source>
        <translation>File to send:</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>文件存放名称:</source>
        <translation>Store as:</translation>
    </message>
    <message>
        <source>文件下装</source>
        <translation>Send file</translation>
    </message>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>大小(K)</source>
        <translation>Size (K)</translation>
    </message>
    <message>
        <source>修改日期</source>
        <translation>Modified</translation>
    </message>
    <message>
        <source>获取文件列表失败!</source>
        <translation>Getting the file list failed!</translation>
    </message>
    <message>
        <source>上载文件</source>
        <translation>Fetch file</translation>
    </message>
    <message>
        <source>未选择要上载的文件,请选择要上载的文件!</source>
        <translation>No file selected; please select the file to fetch!</translation>
    </message>
    <message>
        <source>要上载的文件名称为空!</source>
        <translation>The name of the file to fetch is empty!</translation>
    </message>
    <message>
        <source>上载文件成功!</source>
        <translation>File fetch started!</translation>
    </message>
    <message>
        <source>上载文件失败!</source>
        <translation>File fetch failed!</translation>
    </message>
    <message>
        <source>Open File</source>
        <translation>Open File</translation>
    </message>
    <message>
        <source>下装文件</source>
        <translation>Send file</translation>
    </message>
    <message>
        <source>下装文件成功!</source>
        <translation>File send started!</translation>
    </message>
    <message>
        <source>下装文件失败!</source>
        <translation>File send failed!</translation>
    </message>
    <message>
        <source>未选择要删除的文件,请选择要删除的文件!</source>
        <translation>No file selected; please select the file to delete!</translation>
    </message>
    <message>
        <source>错误</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>要删除的文件名称为空!</source>
        <translation>The name of the file to delete is empty!</translation>
    </message>
    <message>
        <source>删除文件失败!</source>
        <translation>Deleting the file failed!</translation>
    </message>
    <message>
        <source>%p% (%1 / %2)</source>
        <translation>%p% (%1 / %2)</translation>
    </message>
    <message>
        <source>上载 %1</source>
        <translation>Fetching %1</translation>
    </message>
    <message>
        <source>下装 %1</source>
        <translation>Sending %1</translation>
    </message>
    <message>
        <source>上载 %1: %2</source>
        <translation>Fetching %1: %2</translation>
    </message>
    <message>
        <source>下装 %1: %2</source>
        <translation>Sending %1: %2</translation>
    </message>
    <message>
        <source>%p% (%1)</source>
        <translation>%p% (%1)</translation>
    </message>
    <message>
        <source>上载完成</source>
        <translation>Fetched</translation>
    </message>
    <message>
        <source>下装完成</source>
        <translation>Sent</translation>
    </message>
    <message>
        <source>%1 后失败</source>
        <translation>Failed after %1</translation>
    </message>
    <message>
        <source>上载失败</source>
        <translation>Fetch failed</translation>
    </message>
    <message>
        <source>下装失败</source>
        <translation>Send failed</translation>
    </message>
    <message>
        <source>用时 %1</source>
        <translation>Took %1</translation>
    </message>
</context>
<context>
    <name>dialog_lcb</name>
    <message>
        <source>LCB服务</source>
        <translation>LCB service</translation>
    </message>
    <message>
        <source>LogEna</source>
        <translation>LogEna</translation>
    </message>
    <message>
        <source>IntgPd</source>
        <translation>IntgPd</translation>
    </message>
    <message>
        <source>DataSetRef</source>
        <translation>DataSetRef</translation>
    </message>
    <message>
        <source>LogRef</source>
        <translation>LogRef</translation>
    </message>
    <message>
        <source>OptFlds</source>
        <translation>OptFlds</translation>
    </message>
    <message>
        <source>TrgOpts</source>
        <translation>TrgOpts</translation>
    </message>
    <message>
        <source>GetLCBValues</source>
        <translation>GetLCBValues</translation>
    </message>
    <message>
        <source>SetLCBValues</source>
        <translation>SetLCBValues</translation>
    </message>
    <message>
        <source>OldEntrTm</source>
        <translation>OldEntrTm</translation>
    </message>
    <message>
        <source>OldEntr</source>
        <translation>OldEntr</translation>
    </message>
    <message>
        <source>NewEntrTm</source>
        <translation>NewEntrTm</translation>
    </message>
    <message>
        <source>NewEntr</source>
        <translation>NewEntr</translation>
    </message>
    <message>
        <source>GetLogStatusValues</source>
        <translation>GetLogStatusValues</translation>
    </message>
    <message>
        <source>时间格式示例:1984-01-01T00:00:00.000000000</source>
        <translation>Time format e.g. 1984-01-01T00:00:00.000000000</translation>
    </message>
    <message>
        <source>StarTm</source>
        <translation>StarTm</translation>
    </message>
    <message>
        <source>StopTm</source>
        <translation>StopTm</translation>
    </message>
    <message>
        <source>StartEntry</source>
        <translation>StartEntry</translation>
    </message>
    <message>
        <source>QueryLogByTime</source>
        <translation>QueryLogByTime</translation>
    </message>
    <message>
        <source>QueryLogAfter</source>
        <translation>QueryLogAfter</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>参引</source>
        <translation>Reference</translation>
    </message>
    <message>
        <source>数值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Reason</translation>
    </message>
    <message>
        <source>读日志控制块失败</source>
        <translation>Reading the log control block failed</translation>
    </message>
    <message>
        <source>读日志状态失败</source>
        <translation>Reading the log status failed</translation>
    </message>
    <message>
        <source>%1 写入失败</source>
        <translation>Writing %1 failed</translation>
    </message>
    <message>
        <source>%1 的数值 %2 无效</source>
        <translation>Invalid value %2 of %1</translation>
    </message>
    <message>
        <source>设置日志控制块失败</source>
        <translation>Setting the log control block failed</translation>
    </message>
    <message>
        <source>写入成功</source>
        <translation>Written</translation>
    </message>
    <message>
        <source>写入失败</source>
        <translation>Writing failed</translation>
    </message>
    <message>
        <source>设置日志控制块成功</source>
        <translation>Log control block set</translation>
    </message>
    <message>
        <source>时间格式错误,示例:1984-01-01T00:00:00.000000000</source>
        <translation>Wrong time format; e.g. 1984-01-01T00:00:00.000000000</translation>
    </message>
    <message>
        <source>StartEntry 应为16位十六进制数</source>
        <translation>StartEntry must be 16 hexadecimal digits</translation>
    </message>
    <message>
        <source>查询日志失败</source>
        <translation>Log query failed</translation>
    </message>
    <message>
        <source>查询日志未完整完成</source>
        <translation>Log query not completed</translation>
    </message>
</context>
<context>
    <name>dialog_livetrend</name>
    <message>
        <source>实时趋势</source>
        <translation>Live trend</translation>
    </message>
    <message>
        <source>时间窗</source>
        <translation>Time window</translation>
    </message>
    <message>
        <source>1 分钟</source>
        <translation>1 minute</translation>
    </message>
    <message>
        <source>5 分钟</source>
        <translation>5 minutes</translation>
    </message>
    <message>
        <source>10 分钟</source>
        <translation>10 minutes</translation>
    </message>
    <message>
        <source>30 分钟</source>
        <translation>30 minutes</translation>
    </message>
    <message>
        <source>移除所选</source>
        <translation>Remove selected</translation>
    </message>
    <message>
        <source>全部清除</source>
        <translation>Clear all</translation>
    </message>
    <message>
        <source>参引</source>
        <translation>Reference</translation>
    </message>
    <message>
        <source>当前值</source>
        <translation>Current value</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>读取失败</source>
        <translation>read failed</translation>
    </message>
</context>
<context>
    <name>dialog_rcb</name>
    <message>
        <source>URCB/BRCB服务</source>
        <translation>URCB/BRCB service</translation>
    </message>
    <message>
        <source>控制块选择</source>
        <translation>Control block</translation>
    </message>
    <message>
        <source>BRCB</source>
        <translation>BRCB</translation>
    </message>
    <message>
        <source>URCB</source>
        <translation>URCB</translation>
    </message>
    <message>
        <source>RptID</source>
        <translation>RptID</translation>
    </message>
    <message>
        <source>RptEna</source>
        <translation>RptEna</translation>
    </message>
    <message>
        <source>Resv</source>
        <translation>Resv</translation>
    </message>
    <message>
        <source>DataSetRef</source>
        <translation>DataSetRef</translation>
    </message>
    <message>
        <source>ConfRev</source>
        <translation>ConfRev</translation>
    </message>
    <message>
        <source>BufTm</source>
        <translation>BufTm</translation>
    </message>
    <message>
        <source>OptFlds</source>
        <translation>OptFlds</translation>
    </message>
    <message>
        <source>SqNum</source>
        <translation>SqNum</translation>
    </message>
    <message>
        <source>IntgPd</source>
        <translation>IntgPd</translation>
    </message>
    <message>
        <source>TrgOps</source>
        <translation>TrgOps</translation>
    </message>
    <message>
        <source>GI</source>
        <translation>GI</translation>
    </message>
    <message>
        <source>PurgeBuf</source>
        <translation>PurgeBuf</translation>
    </message>
    <message>
        <source>EntryID</source>
        <translation>EntryID</translation>
    </message>
    <message>
        <source>EntryTm</source>
        <translation>EntryTm</translation>
    </message>
    <message>
        <source>GetRcbValues</source>
        <translation>GetRcbValues</translation>
    </message>
    <message>
        <source>SetRcbValues</source>
        <translation>SetRcbValues</translation>
    </message>
    <message>
        <source>EnableRpt</source>
        <translation>EnableRpt</translation>
    </message>
    <message>
        <source>RCB Name</source>
        <translation>RCB Name</translation>
    </message>
    <message>
        <source>未选择RCB名称,请重新选择!</source>
        <translation>No RCB selected; please select one!</translation>
    </message>
    <message>
        <source>set RptID value failure!</source>
        <translation>set RptID value failure!</translation>
    </message>
    <message>
        <source>set RptID value success!</source>
        <translation>set RptID value success!</translation>
    </message>
    <message>
        <source>set DataSet value failure!</source>
        <translation>set DataSet value failure!</translation>
    </message>
    <message>
        <source>set DataSet value success!</source>
        <translation>set DataSet value success!</translation>
    </message>
    <message>
        <source>set OptFlds value failure!</source>
        <translation>set OptFlds value failure!</translation>
    </message>
    <message>
        <source>set OptFlds value success!</source>
        <translation>set OptFlds value success!</translation>
    </message>
    <message>
        <source>set TrgOps value failure!</source>
        <translation>set TrgOps value failure!</translation>
    </message>
    <message>
        <source>set TrgOps value success!</source>
        <translation>set TrgOps value success!</translation>
    </message>
    <message>
        <source>set EntryID value failure!</source>
        <translation>set EntryID value failure!</translation>
    </message>
    <message>
        <source>set EntryID value success!</source>
        <translation>set EntryID value success!</translation>
    </message>
    <message>
        <source>set EntryTm value failure!</source>
        <translation>set EntryTm value failure!</translation>
    </message>
    <message>
        <source>set EntryTm value success!</source>
        <translation>set EntryTm value success!</translation>
    </message>
    <message>
        <source>set RptEna value failure!</source>
        <translation>set RptEna value failure!</translation>
    </message>
    <message>
        <source>set RptEna value success!</source>
        <translation>set RptEna value success!</translation>
    </message>
    <message>
        <source>set ConfRev value failure!</source>
        <translation>set ConfRev value failure!</translation>
    </message>
    <message>
        <source>set ConfRev value success!</source>
        <translation>set ConfRev value success!</translation>
    </message>
    <message>
        <source>set SqNum value failure!</source>
        <translation>set SqNum value failure!</translation>
    </message>
    <message>
        <source>set SqNum value success!</source>
        <translation>set SqNum value success!</translation>
    </message>
    <message>
        <source>set GI value failure!</source>
        <translation>set GI value failure!</translation>
    </message>
    <message>
        <source>set GI value success!</source>
        <translation>set GI value success!</translation>
    </message>
    <message>
        <source>set BufTm value failure!</source>
        <translation>set BufTm value failure!</translation>
    </message>
    <message>
        <source>set BufTm value success!</source>
        <translation>set BufTm value success!</translation>
    </message>
    <message>
        <source>set IntgPd value failure!</source>
        <translation>set IntgPd value failure!</translation>
    </message>
    <message>
        <source>set IntgPd value success!</source>
        <translation>set IntgPd value success!</translation>
    </message>
    <message>
        <source>set PurgeBuf value failure!</source>
        <translation>set PurgeBuf value failure!</translation>
    </message>
    <message>
        <source>set PurgeBuf value success!</source>
        <translation>set PurgeBuf value success!</translation>
    </message>
    <message>
        <source>set Resv value failure!</source>
        <translation>set Resv value failure!</translation>
    </message>
    <message>
        <source>set Resv value success!</source>
        <translation>set Resv value success!</translation>
    </message>
</context>
<context>
    <name>dialog_recordings</name>
    <message>
        <source>录波记录</source>
        <translation>Recordings</translation>
    </message>
    <message>
        <source>录波时间</source>
        <translation>Recorded</translation>
    </message>
    <message>
        <source>装置</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>文件名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>已上传</source>
        <translation>Uploaded</translation>
    </message>
    <message>
        <source>刷新</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>数据库不可用</source>
        <translation>Database not available</translation>
    </message>
    <message>
        <source>读取录波记录失败：%1</source>
        <translation>Reading the recordings failed: %1</translation>
    </message>
    <message>
        <source>是</source>
        <translation>yes</translation>
    </message>
    <message>
        <source>否</source>
        <translation>no</translation>
    </message>
    <message>
        <source>%1 条录波记录</source>
        <translation>%1 recordings</translation>
    </message>
    <message>
        <source>请选择一条录波记录</source>
        <translation>Choose a recording</translation>
    </message>
    <message>
        <source>录波记录的文件名无效：%1</source>
        <translation>Invalid file name of the recording: %1</translation>
    </message>
    <message>
        <source>本地没有文件 %1</source>
        <translation>No local file %1</translation>
    </message>
    <message>
        <source>已打开 %1</source>
        <translation>Opened %1</translation>
    </message>
</context>
<context>
    <name>dialog_sg</name>
    <message>
        <source>定值服务</source>
        <translation>Setting groups</translation>
    </message>
    <message>
        <source>定值控制块</source>
        <translation>Setting group control block</translation>
    </message>
    <message>
        <source>定值组数目</source>
        <translation>Groups</translation>
    </message>
    <message>
        <source>激活定值组</source>
        <translation>Active group</translation>
    </message>
    <message>
        <source>编辑定值组</source>
        <translation>Edit group</translation>
    </message>
    <message>
        <source>读定值控制块</source>
        <translation>Read SGCB</translation>
    </message>
    <message>
        <source>定值操作</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>操作定值组</source>
        <translation>Group</translation>
    </message>
    <message>
        <source>切换激活区</source>
        <translation>Activate</translation>
    </message>
    <message>
        <source>切换编辑区</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>读定值</source>
        <translation>Read settings</translation>
    </message>
    <message>
        <source>写定值</source>
        <translation>Write settings</translation>
    </message>
    <message>
        <source>参引</source>
        <translation>Reference</translation>
    </message>
    <message>
        <source>数值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>描述</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>读定值控制块失败</source>
        <translation>Reading the SGCB failed</translation>
    </message>
    <message>
        <source>切换激活区失败</source>
        <translation>Activating the group failed</translation>
    </message>
    <message>
        <source>切换编辑区失败</source>
        <translation>Selecting the edit group failed</translation>
    </message>
    <message>
        <source>该逻辑设备没有定值</source>
        <translation>This logical device has no settings</translation>
    </message>
    <message>
        <source>读定值失败</source>
        <translation>Reading the settings failed</translation>
    </message>
    <message>
        <source>定值组%1既不是激活区也不是编辑区,请先切换编辑区</source>
        <translation>Group %1 is neither the active nor the edit group; select it for editing first</translation>
    </message>
    <message>
        <source>请先切换编辑区并读出编辑区定值</source>
        <translation>Select the edit group and read its settings first</translation>
    </message>
    <message>
        <source>%1 的数值 %2 无效</source>
        <translation>Invalid value %2 of %1</translation>
    </message>
    <message>
        <source>定值确认失败</source>
        <translation>Confirming the settings failed</translation>
    </message>
    <message>
        <source>写定值失败</source>
        <translation>Writing the settings failed</translation>
    </message>
    <message>
        <source>定值写入并确认成功</source>
        <translation>Settings written and confirmed</translation>
    </message>
</context>
<context>
    <name>dialog_trend</name>
    <message>
        <source>历史趋势</source>
        <translation>Archived trend</translation>
    </message>
    <message>
        <source>数据表</source>
        <translation>Table</translation>
    </message>
    <message>
        <source>设备编号</source>
        <translation>Equipment</translation>
    </message>
    <message>
        <source>起始时间</source>
        <translation>From</translation>
    </message>
    <message>
        <source>yyyy-MM-dd HH:mm</source>
        <translation>yyyy-MM-dd HH:mm</translation>
    </message>
    <message>
        <source>结束时间</source>
        <translation>To</translation>
    </message>
    <message>
        <source>查询</source>
        <translation>Query</translation>
    </message>
    <message>
        <source>数据列</source>
        <translation>Columns</translation>
    </message>
    <message>
        <source>数据库不可用</source>
        <translation>Database not available</translation>
    </message>
    <message>
        <source>读取数据表失败：%1</source>
        <translation>Reading the tables failed: %1</translation>
    </message>
    <message>
        <source>数据库中没有测量数据表</source>
        <translation>The database has no measurement tables</translation>
    </message>
    <message>
        <source>读取设备编号失败：%1</source>
        <translation>Reading the equipment failed: %1</translation>
    </message>
    <message>
        <source>请选择数据表、设备编号和至少一个数据列</source>
        <translation>Choose a table, the equipment and at least one column</translation>
    </message>
    <message>
        <source>正在读取 %1 …</source>
        <translation>Reading %1 …</translation>
    </message>
    <message>
        <source>查询失败：%1</source>
        <translation>Query failed: %1</translation>
    </message>
    <message>
        <source>%1 设备 %2</source>
        <translation>%1 equipment %2</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>所选时间内没有数据</source>
        <translation>No data in the chosen time</translation>
    </message>
    <message>
        <source>只显示前 %1 行，请缩短时间范围</source>
        <translation>Only the first %1 rows are shown; choose a shorter time</translation>
    </message>
    <message>
        <source>%1 行</source>
        <translation>%1 rows</translation>
    </message>
</context>
<context>
    <name>dialog_wave</name>
    <message>
        <source>录波分析</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>光标</source>
        <translation>Cursor</translation>
    </message>
    <message>
        <source>数值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>单位</source>
        <translation>Unit</translation>
    </message>
    <message>
        <source>波形</source>
        <translation>Waveforms</translation>
    </message>
    <message>
        <source>头文件</source>
        <translation>Header</translation>
    </message>
    <message>
        <source>信息文件</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>工具栏</source>
        <translation>Tool bar</translation>
    </message>
    <message>
        <source>打开录波文件</source>
        <translation>Open recording</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>左移</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>右移</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>滚轮缩放，拖动平移，单击放置光标</source>
        <translation>The wheel zooms, dragging pans, a click places the cursor</translation>
    </message>
    <message>
        <source>正在读取录波文件 %1 …</source>
        <translation>Reading the recording %1 …</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>无法读取录波文件：%1</source>
        <translation>Cannot read the recording: %1</translation>
    </message>
    <message>
        <source>录波分析 - %1</source>
        <translation>Recording - %1</translation>
    </message>
    <message>
        <source>按时标</source>
        <translation>by time stamps</translation>
    </message>
    <message>
        <source>%1 Hz 至第 %2 点</source>
        <translation>%1 Hz to sample %2</translation>
    </message>
    <message>
        <source>厂站：%1&#x3000;装置：%2&#x3000;版本：%3&#x3000;格式：%4&#x3000;模拟量：%5&#x3000;开关量：%6&#x3000;采样：%7&#x3000;起始：%8&#x3000;触发：%9</source>
        <translation>Station: %1&#x2003;Device: %2&#x2003;Revision: %3&#x2003;Format: %4&#x2003;Analog: %5&#x2003;Digital: %6&#x2003;Sampling: %7&#x2003;Start: %8&#x2003;Trigger: %9</translation>
    </message>
    <message>
        <source>模拟量 (%1)</source>
        <translation>Analog (%1)</translation>
    </message>
    <message>
        <source>开关量 (%1)</source>
        <translation>Digital (%1)</translation>
    </message>
    <message>
        <source>时间 (ms，相对触发)</source>
        <translation>Time (ms from the trigger)</translation>
    </message>
    <message>
        <source>(无单位)</source>
        <translation>(no unit)</translation>
    </message>
    <message>
        <source>触发</source>
        <translation>Trigger</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>ms (第 %1 点)</source>
        <translation>ms (sample %1)</translation>
    </message>
    <message>
        <source>缺失</source>
        <translation>missing</translation>
    </message>
    <message>
        <source>光标：%1 ms（%2）</source>
        <translation>Cursor: %1 ms (%2)</translation>
    </message>
    <message>
        <source>COMTRADE 录波 (*.cfg *.CFG *.dat *.DAT *.cff *.CFF);;所有文件 (*)</source>
        <translation>COMTRADE recordings (*.cfg *.CFG *.dat *.DAT *.cff *.CFF);;All files (*)</translation>
    </message>
</context>
<context>
    <name>gui_srv</name>
    <message>
        <source>目录</source>
        <translation>Objects</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>路径</source>
        <translation>Path</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>数值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>描述</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>读服务</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>写服务</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>目录服务</source>
        <translation>Directory</translation>
    </message>
    <message>
        <source>报告服务</source>
        <translation>Reports</translation>
    </message>
    <message>
        <source>日志服务</source>
        <translation>Logs</translation>
    </message>
    <message>
        <source>控制服务</source>
        <translation>Control</translation>
    </message>
    <message>
        <source>定值服务</source>
        <translation>Setting groups</translation>
    </message>
    <message>
        <source>连接A网</source>
        <translation>Connect network A</translation>
    </message>
    <message>
        <source>连接B网</source>
        <translation>Connect network B</translation>
    </message>
    <message>
        <source>导出SCL模型</source>
        <translation>Export SCL model</translation>
    </message>
    <message>
        <source>断开A网</source>
        <translation>Disconnect network A</translation>
    </message>
    <message>
        <source>断开B网</source>
        <translation>Disconnect network B</translation>
    </message>
    <message>
        <source>SCL文件 (*.icd *.cid *.scd)</source>
        <translation>SCL files (*.icd *.cid *.scd)</translation>
    </message>
    <message>
        <source>%1内对象数目统计</source>
        <translation>Objects of %1</translation>
    </message>
    <message>
        <source>LD对象数：</source>
        <translation>Logical devices:</translation>
    </message>
    <message>
        <source>LN对象数：</source>
        <translation>Logical nodes:</translation>
    </message>
    <message>
        <source>DS对象数：</source>
        <translation>Data sets:</translation>
    </message>
    <message>
        <source>VMD内对象总数：</source>
        <translation>Objects in the VMD:</translation>
    </message>
    <message>
        <source>打开录波文件</source>
        <translation>Open recording</translation>
    </message>
    <message>
        <source>COMTRADE 录波 (*.cfg *.CFG *.dat *.DAT *.cff *.CFF);;所有文件 (*)</source>
        <translation>COMTRADE recordings (*.cfg *.CFG *.dat *.DAT *.cff *.CFF);;All files (*)</translation>
    </message>
    <message>
        <source>加入实时趋势</source>
        <translation>Add to live trend</translation>
    </message>
</context>
<context>
    <name>gui_srvClass</name>
    <message>
        <source>gui_srv</source>
        <translation>gui_srv</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>服务</source>
        <translation>Services</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>toolBar</source>
        <translation>toolBar</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>断开连接</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>文件传输</source>
        <translation>File transfer</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>清除告警</source>
        <translation>Clear messages</translation>
    </message>
    <message>
        <source>控制服务</source>
        <translation>Control</translation>
    </message>
    <message>
        <source>定值服务</source>
        <translation>Setting groups</translation>
    </message>
    <message>
        <source>参引入库</source>
        <translation>Import references</translation>
    </message>
    <message>
        <source>清除参引</source>
        <translation>Clear references</translation>
    </message>
    <message>
        <source>帮助文档</source>
        <translation>Help contents</translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>打开录波文件</source>
        <translation>Open recording</translation>
    </message>
    <message>
        <source>录波记录</source>
        <translation>Recordings</translation>
    </message>
    <message>
        <source>历史趋势</source>
        <translation>Archived trend</translation>
    </message>
    <message>
        <source>实时趋势</source>
        <translation>Live trend</translation>
    </message>
    <message>
        <source>刷新数据</source>
        <translation>Refresh</translation>
    </message>
</context>
<context>
    <name>iedobj</name>
    <message>
        <source>未知原因</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>不支持</source>
        <translation>not supported</translation>
    </message>
    <message>
        <source>切换层级闭锁</source>
        <translation>blocked by switching hierarchy</translation>
    </message>
    <message>
        <source>选择失败</source>
        <translation>select failed</translation>
    </message>
    <message>
        <source>位置无效</source>
        <translation>invalid position</translation>
    </message>
    <message>
        <source>已在目标位置</source>
        <translation>position reached</translation>
    </message>
    <message>
        <source>执行中参数改变</source>
        <translation>parameter change in execution</translation>
    </message>
    <message>
        <source>步位越限</source>
        <translation>step limit</translation>
    </message>
    <message>
        <source>模式闭锁</source>
        <translation>blocked by mode</translation>
    </message>
    <message>
        <source>过程闭锁</source>
        <translation>blocked by process</translation>
    </message>
    <message>
        <source>联锁闭锁</source>
        <translation>blocked by interlocking</translation>
    </message>
    <message>
        <source>同期闭锁</source>
        <translation>blocked by synchrocheck</translation>
    </message>
    <message>
        <source>命令正在执行</source>
        <translation>command already in execution</translation>
    </message>
    <message>
        <source>健康状态闭锁</source>
        <translation>blocked by health</translation>
    </message>
    <message>
        <source>多选一控制</source>
        <translation>1 of n control</translation>
    </message>
    <message>
        <source>被撤销中止</source>
        <translation>abortion by cancel</translation>
    </message>
    <message>
        <source>执行超时</source>
        <translation>time limit over</translation>
    </message>
    <message>
        <source>跳闸中止</source>
        <translation>abortion by trip</translation>
    </message>
    <message>
        <source>对象未选择</source>
        <translation>object not selected</translation>
    </message>
    <message>
        <source>对象已被选择</source>
        <translation>object already selected</translation>
    </message>
    <message>
        <source>无操作权限</source>
        <translation>no access authority</translation>
    </message>
    <message>
        <source>越限结束</source>
        <translation>ended with overshoot</translation>
    </message>
    <message>
        <source>偏差中止</source>
        <translation>abortion due to deviation</translation>
    </message>
    <message>
        <source>通信中断中止</source>
        <translation>abortion by communication loss</translation>
    </message>
    <message>
        <source>命令闭锁</source>
        <translation>blocked by command</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message>
        <source>参数不一致</source>
        <translation>inconsistent parameters</translation>
    </message>
    <message>
        <source>被他方锁定</source>
        <translation>locked by other client</translation>
    </message>
    <message>
        <source>装置未给出原因</source>
        <translation>the device gave no reason</translation>
    </message>
    <message>
        <source>原因%1</source>
        <translation>cause %1</translation>
    </message>
</context>
</TS>
