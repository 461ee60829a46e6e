-- A voice-mail line written with the call-script module: one function per
-- call, read from top to bottom as the caller hears it. Callers leave a
-- message in a four-digit mailbox (1), or listen to their own after the
-- mailbox's PIN (2): each message is said with its number and the
-- caller's number, then 7 deletes it and any other key (or none) goes on.
--
-- What the module does for it: keys typed during a prompt stop it and are
-- kept for the next question (a caller who knows the menu types "11001" at
-- once), time-outs and wrong answers ask again, a hang-up ends every wait,
-- an error in one call ends that call only.
--
--   marlune run examples/voicemail.lua examples/voicemail_callers.lua --out out

local ivr = require "marlune.ivr"

-- A real service keeps these in a database.
local MAILBOXES = {
  ["1001"] = {pin = "1234"},
  ["1002"] = {pin = "5678"},
}
local messages = {}  -- mailbox -> {{file = ..., from = ...}, ...}, oldest first

local function mailbox(call)
  return call:ask{prompt = "请输入四位信箱号码", digits = 4, tries = 3,
                  valid = function(box) return MAILBOXES[box] ~= nil end,
                  invalid = "信箱号码有误 请重新输入"}
end

local function leave(call, box)
  call:say("请在提示音后留言 按井号键结束")
  -- The control drops the call when the recording ends: nothing is said after it.
  local r = call:record{file = "msg-" .. call.id .. ".wav", max = 60, terminator = "#", beep = true}
  if r and r.seconds > 0 then
    messages[box] = messages[box] or {}
    table.insert(messages[box], {file = r.file, from = call.number})
  end
end

local function listen(call, box)
  local pin = call:ask{prompt = "请输入密码 以井号键结束", terminator = "#", tries = 3,
                       valid = function(p) return p == MAILBOXES[box].pin end,
                       invalid = "密码错误 请重新输入"}
  if not pin then return call:say("再见") end
  local list = messages[box] or {}
  if #list == 0 then return call:say("您没有留言 再见") end
  call:say("您有")
  call:say_number(#list, "条")
  call:say("留言")
  local i = 1
  while list[i] do
    local m = list[i]
    call:play({"第" .. ivr.number_words(i) .. "条留言", m.file}, {barge = true})
    if m.from then
      call:say("来电号码")
      call:say_digits(m.from)
    end
    local key = call:ask{prompt = "删除请按七 收听下一条请按一", digits = 1, timeout = 4, tries = 1}
    if key == "7" then
      os.remove(m.file)
      table.remove(list, i)
      call:say("已删除")
    else
      i = i + 1
    end
    if not call:connected() then return end
  end
  call:say("没有更多留言 再见")
end

ivr.serve(function(call)
  call:say("您好 欢迎致电留言信箱", {barge = true})
  local choice = call:ask{prompt = "留言请按一 收听留言请按二", digits = 1, tries = 2,
                          valid = function(k) return k == "1" or k == "2" end,
                          invalid = "输入有误"}
  if not choice then return call:say("再见") end
  local box = mailbox(call)
  if not box then return call:say("再见") end
  if choice == "1" then leave(call, box) else listen(call, box) end
end, {answer_on_ring = 2})
