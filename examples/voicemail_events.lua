-- The voice-mail line of examples/voicemail.lua written with the control's
-- events alone, for comparison: the same mailboxes, PIN, leave, listen and
-- delete, the same prompts, retries, time-outs and barge-in, the same
-- callers. Every wait is a state and a continuation; keys are kept in a
-- queue so that none is lost. (A message whose file has gone plays as the
-- control's tone for a file it cannot open: PlayWav answers 0.)
--
--   marlune run examples/voicemail_events.lua examples/voicemail_callers.lua --out out

local LINE = 0
local MAILBOXES = {
  ["1001"] = {pin = "1234"},
  ["1002"] = {pin = "5678"},
}
local messages = {}  -- mailbox -> {{file = ..., from = ...}, ...}

local DIGITS = {["0"] = "零", ["1"] = "一", ["2"] = "二", ["3"] = "三", ["4"] = "四", ["5"] = "五",
                ["6"] = "六", ["7"] = "七", ["8"] = "八", ["9"] = "九", ["*"] = "星", ["#"] = "井"}

-- Counts up to 99 are enough here: PlayStr reads digits as amounts.
local function count_words(n, unit)
  local ones = {"一", "二", "三", "四", "五", "六", "七", "八", "九"}
  if n == 0 then return "零" .. unit end
  if n == 2 then return "两" .. unit end
  if n < 10 then return ones[n] .. unit end
  local tens, rest = n // 10, n % 10
  return (tens == 1 and "" or ones[tens]) .. "十" .. (rest > 0 and ones[rest] or "") .. unit
end

local function digit_words(s)
  return (s:gsub(".", function(c) return (DIGITS[c] or "") .. " " end))
end

write_tones("beep.wav", {{1000, 0.3}})
ctl:InitLine(LINE)
assert(ctl:OpenLine(LINE) == 0, "the line did not open")

local call = nil    -- the call on the line
local number = nil  -- the caller's number, before the call is answered

-- ---- playing ---------------------------------------------------------------

-- Plays the items one after another (PlayWav refuses to start while a text
-- plays); then k(true), k(false) when a key cut them (barge), k(nil) when
-- the caller has gone.
local next_item
local function play(items, barge, k)
  call.items, call.item, call.barge, call.after_play = items, 0, barge, k
  next_item()
end

next_item = function()
  if call.gone then return call.after_play(nil) end
  if call.barge and #call.keys > 0 then return call.after_play(false) end
  call.item = call.item + 1
  local item = call.items[call.item]
  if not item then return call.after_play(true) end
  call.playing = true
  if item:lower():match("%.wav$") then ctl:PlayWav(item, LINE) else ctl:PlayStr(item, LINE) end
end

-- ---- asking ----------------------------------------------------------------

local collect

-- Asks until an answer passes or the tries are spent: k(answer or nil).
local function ask(o, k)
  local try = 0
  local attempt
  local function start_collecting()
    call.answer, call.ask, call.collecting = "", o, true
    collect()
  end
  call.on_answer = function(answer, timed_out)
    call.collecting = false
    local ok
    if answer == "" then
      ok = false
    elseif o.valid then
      ok = o.valid(answer)
    else
      ok = not (timed_out and o.digits and #answer < o.digits)
    end
    if ok then return k(answer) end
    if try >= (o.tries or 3) then return k(nil) end
    if o.invalid then
      play({o.invalid}, true, function(r) if r == nil then return k(nil) end attempt() end)
    else
      attempt()
    end
  end
  attempt = function()
    if call.gone then return k(nil) end
    try = try + 1
    if #call.keys > 0 then return start_collecting() end
    play({o.prompt}, true, function(r)
      if r == nil then return k(nil) end
      start_collecting()
    end)
  end
  attempt()
end

-- Takes the queued keys into the answer; waits for more with a time-out
-- that restarts at each key.
collect = function()
  local o = call.ask
  while #call.keys > 0 do
    local key = table.remove(call.keys, 1)
    if o.terminator and key == o.terminator then return call.on_answer(call.answer, false) end
    call.answer = call.answer .. key
    if o.digits and #call.answer >= o.digits then return call.on_answer(call.answer, false) end
  end
  call.timer = call.timer + 1
  local mine, this = call.timer, call
  after(o.timeout or 5, function()
    if this.timer == mine and this.collecting and not this.gone then this.on_answer(this.answer, true) end
  end)
end

-- ---- the service -------------------------------------------------------------

local function goodbye(text)
  play({text or "再见"}, false, function() if not call.gone then call.gone = true ctl:HandUp() end end)
end

local function leave(box)
  play({"请在提示音后留言 按井号键结束", "beep.wav"}, false, function(r)
    if r == nil then return end
    call.file = string.format("%s/call-%d/msg-%d.wav", out_dir, call.id, call.id)
    call.recording, call.box, call.keys = true, box, {}
    ctl:RecordWav(LINE, call.file, 60)
  end)
end

local function listen(box)
  local list = messages[box] or {}
  local i = 1
  local function next_message()
    if call.gone then return end
    local m = list[i]
    if not m then return goodbye("没有更多留言 再见") end
    local items = {"第" .. count_words(i, "条留言"), m.file}
    if m.from then items[#items + 1] = "来电号码" end
    play(items, true, function(r)
      if r == nil then return end
      local function question()
        ask({prompt = "删除请按七 收听下一条请按一", digits = 1, timeout = 4, tries = 1}, function(key)
          if call.gone then return end
          if key == "7" then
            os.remove(m.file)
            table.remove(list, i)
            play({"已删除"}, false, next_message)
          else
            i = i + 1
            next_message()
          end
        end)
      end
      if m.from and r then play({digit_words(m.from)}, false, question) else question() end
    end)
  end
  ask({prompt = "请输入密码 以井号键结束", terminator = "#", tries = 3,
       valid = function(p) return p == MAILBOXES[box].pin end, invalid = "密码错误 请重新输入"}, function(pin)
    if not pin then return goodbye() end
    if #list == 0 then return goodbye("您没有留言 再见") end
    play({"您有", count_words(#list, "条"), "留言"}, false, next_message)
  end)
end

local function serve()
  play({"您好 欢迎致电留言信箱"}, true, function(r)
    if r == nil then return end
    ask({prompt = "留言请按一 收听留言请按二", digits = 1, tries = 2,
         valid = function(k) return k == "1" or k == "2" end, invalid = "输入有误"}, function(choice)
      if not choice then return goodbye() end
      ask({prompt = "请输入四位信箱号码", digits = 4, tries = 3,
           valid = function(b) return MAILBOXES[b] ~= nil end, invalid = "信箱号码有误 请重新输入"}, function(box)
        if not box then return goodbye() end
        if choice == "1" then leave(box) else listen(box) end
      end)
    end)
  end)
end

-- ---- the events --------------------------------------------------------------

function Ring(n)
  if n == 1 then number = nil end
  if n == 2 then ctl:AnswerTp() end
end

function CallIDIn()
  local n = ctl:GetTPNO()
  number = n ~= "" and n or nil
end

function IsConnect(h)
  call = {id = call_id(), number = number, keys = {}, timer = 0}
  ctl:ClearDTMF(LINE)
  ctl:BeginMonitorDtmf(LINE)
  serve()
end

function DtmfIn(h, key)
  if not call or call.gone then return end
  if call.recording then
    if key == "#" and not call.ended then
      call.ended = "key"
      ctl:StopRecord()
    end
    return
  end
  call.keys[#call.keys + 1] = key
  if call.playing and call.barge and not call.cut then
    call.cut = true
    ctl:StopPlayWav()
  elseif call.collecting then
    call.timer = call.timer + 1
    collect()
  end
end

function EndPlayAll()
  if not call or not call.playing then return end
  call.playing = false
  if call.cut then
    call.cut = false
    if call.gone then return call.after_play(nil) end
    return call.after_play(false)
  end
  next_item()
end

function EndRecord()
  if not call or not call.recording then return end
  call.recording, call.gone = false, true
  local f = io.open(call.file, "rb")
  local size = f and f:seek("end") or 0
  if f then f:close() end
  if size > 44 then
    messages[call.box] = messages[call.box] or {}
    table.insert(messages[call.box], {file = call.file, from = call.number})
  end
end

function DisConnected(h)
  if not call then return end
  local was = call
  was.gone, was.collecting = true, false
  if was.playing then ctl:StopPlayWav() end
  if was.recording then
    was.ended = was.ended or "hangup"
    ctl:StopRecord()
  else
    ctl:HandUp()
  end
end

function LineIsFree(h)
  if call then call.gone = true end
  call = nil
end
