#include "host/host_texts.h"

#include "platform/prefs/locale.h"

namespace orv::host {

namespace {

struct Translation {
  std::string_view english;
  std::string_view chinese;
};

constexpr Translation kChinese[] = {
    {"? help  Enter open  s/x start/stop  / filter  q quit",
     "? 帮助  Enter 打开  s/x 启动/停止  / 筛选  q 退出"},
    {"? help  Space flip  s/x start/stop  L log  Esc back  q quit",
     "? 帮助  空格 切换  s/x 启动/停止  L 日志  Esc 返回  q 退出"},
    {"Waiting for the control service…  q quits", "正在等待控制服务…  q 退出"},
    {"/{}_   Enter keeps it, Esc clears", "/{}_   Enter 保留，Esc 清除"},
    {"type the answer  Enter OK  Tab buttons  Esc cancel",
     "输入回答  Enter 确定  Tab 按钮  Esc 取消"},
    {"Tab or arrows choose  Enter answers  Esc cancels", "Tab 或方向键选择  Enter 回答  Esc 取消"},
    {"updated {}", "更新于 {}"},
    {"read {}", "读取于 {}"},
    {"STALE: no answer since {} ({})", "已过时：自 {} 起无应答（{}）"},
    {"filter: {}", "筛选：{}"},
    {"{} job", "{} 个任务"},
    {"{} jobs", "{} 个任务"},
    {"{} running", "{} 正在运行"},
    {"{} stopped", "{} 已停止"},
    {"{}: on", "{}：开"},
    {"{}: off", "{}：关"},
    {"{} is still running: {}", "{} 仍在运行：{}"},
    {"{} (not saved: {})", "{}（未保存：{}）"},
    {"{} is still stopped: {}", "{} 仍未运行：{}"},
    {"{} is still on: {}", "{} 仍为开：{}"},
    {"{} is still off: {}", "{} 仍为关：{}"},
    {"{} is already running", "{} 已在运行"},
    {"{} is already stopped", "{} 已经停止"},
    {"{} cannot be started or stopped", "{} 无法启动或停止"},
    {"\"{}\" cannot be changed here", "此处不能更改“{}”"},
    {"cancelled", "已取消"},
    {"no answer from the control service", "控制服务没有应答"},
    {"the service refused or failed", "服务拒绝或失败"},
    {"refused", "被拒绝"},
    {"not running", "未运行"},
    {"timed out", "超时"},
    {"answered badly", "应答有误"},
    {"(empty page)", "（空页面）"},
    {"No rows match the filter.", "没有符合筛选的行。"},
    // The web page's own words.
    {"Filter", "筛选"},
    {"Back", "返回"},
    {"running", "运行中"},
    {"stopped", "已停止"},
    {"Busy: answer the open dialog first", "忙：请先回答打开的对话框"},
    {"The connection to orvane was lost; trying again…", "与 orvane 的连接已断开；正在重试…"},
    {"Keys", "按键"},
    {"  Up/Down, k/j, wheel  move", "  上/下、k/j、滚轮     移动"},
    {"  PgUp/PgDn            half a screen up/down", "  PgUp/PgDn            上/下翻半屏"},
    {"  Home/End, g/G        first/last row", "  Home/End、g/G        第一行/最后一行"},
    {"  Enter, Right, l      open a page, press a button, flip a switch",
     "  Enter、右、l         打开页面、按下按钮、切换开关"},
    {"  Space                flip a switch", "  空格                 切换开关"},
    {"  s / x                start / stop the selected job",
     "  s / x                启动/停止所选任务"},
    {"  r                    rebuild the list now", "  r                    立即刷新列表"},
    {"  a                    show or hide system jobs",
     "  a                    显示或隐藏系统任务"},
    {"  /                    filter rows by text (Esc clears it)",
     "  /                    按文字筛选（Esc 清除）"},
    {"  Esc, Left, h         back to the previous page", "  Esc、左、h           返回上一页"},
    {"  click                select a row; click it again to act",
     "  点击                 选中一行；再点一次执行"},
    {"  ?                    this help (Up/Down scroll it)",
     "  ?                    本帮助（上/下滚动）"},
    {"  q, Ctrl-C            quit", "  q、Ctrl-C            退出"},
    {"  In a dialog: Tab or arrows choose, Enter answers, Esc cancels",
     "  对话框中：Tab 或方向键选择，Enter 回答，Esc 取消"},
    {"Legend", "图例"},
    {"  [ on] / [off]        a switch and its state", "  [ on] / [off]        开关及其状态"},
    {"  running / stopped    a job's state, also in green / red",
     "  运行/停止            任务状态，另以绿色/红色表示"},
    {"  ›                    opens a page of its own", "  ›                    打开其自身页面"},
    {"  [ Button ]           an action", "  [ 按钮 ]             一个操作"},
    {"  dimmed row           shown only: it cannot be changed",
     "  暗色行               仅显示，不能更改"},
    {"  STALE                the service did not answer: the rows are",
     "  已过时               服务没有应答：这些行是"},
    {"                       the last ones it sent", "                       它最后发送的内容"},
    {"The list rebuilds itself every 10 seconds and after each action;",
     "列表每 10 秒及每次操作后自动刷新；"},
    {"the status bar says when. A job's page says when it was read.",
     "状态栏显示刷新时间。任务页面显示读取时间。"},
    {"Any other key closes this.", "按其他任意键关闭。"},
    {"  L                    a job's log, following new lines (on its page)",
     "  L                    任务日志，跟随新行（在任务页面）"},
    {"Log of {}", "{} 的日志"},
    {"following", "跟随中"},
    {"paused", "已暂停"},
    {"{} lines", "{} 行"},
    {"(no log lines yet)", "（尚无日志行）"},
    {"No lines match the filter.", "没有符合筛选的行。"},
    {"STALE: {}", "已过时：{}"},
    {"no such job", "没有此任务"},
    {"no log is kept for this job", "此任务没有日志"},
    {"The control service does not answer ({}); trying again", "控制服务没有应答（{}）；正在重试"},
    {"Up/Down scroll  G follow  / filter  Esc back  q quit",
     "上/下 滚动  G 跟随  / 筛选  Esc 返回  q 退出"},
};

bool speaks_chinese() {
  return NSLocale::currentLocale().languageCode() == "zh";
}

}  // namespace

std::string_view tr(std::string_view english) {
  if (!speaks_chinese()) return english;
  for (const auto& entry : kChinese)
    if (entry.english == english) return entry.chinese;
  return english;
}

std::string tr_format(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string_view text = tr(pattern);
  std::string out;
  auto next = args.begin();
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t hole = text.find("{}", pos);
    if (hole == std::string_view::npos || next == args.end()) {
      out += text.substr(pos);
      break;
    }
    out += text.substr(pos, hole - pos);
    out += *next++;
    pos = hole + 2;
  }
  return out;
}

}  // namespace orv::host
