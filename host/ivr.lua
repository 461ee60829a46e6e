-- marlune.ivr: one function per call on top of the control's members and
-- events. serve() answers the calls of line 0 and runs the function given
-- as a coroutine for each; the call's methods block that coroutine until
-- the control has done what they ask (a prompt played, keys collected, a
-- recording written), so a service reads as the dialogue it is.
--
-- The runner hands the module what a script cannot reach (`sys`): the
-- event listener, the members the script has called, the call's folder and
-- the reporting of an error that ends one call.
local sys = ...

local ivr = {}
local LINE = 0  -- Dev 0: the call's line

local me = debug.getinfo(1, "S").source

-- The level of the script's own code that called into the module.
local function script_level()
  local level = 2
  while true do
    local info = debug.getinfo(level, "S")
    if not info then return 1 end
    if info.source ~= me then return level - 1 end
    level = level + 1
  end
end

local function fail(message)
  error(message, script_level())
end

-- ---- words ----------------------------------------------------------------

local DIGIT = {[0] = "零", "一", "二", "三", "四", "五", "六", "七", "八", "九"}
local KEY = {["0"] = "零", ["1"] = "一", ["2"] = "二", ["3"] = "三", ["4"] = "四", ["5"] = "五",
             ["6"] = "六", ["7"] = "七", ["8"] = "八", ["9"] = "九", ["*"] = "星", ["#"] = "井",
             A = "A", B = "B", C = "C", D = "D"}

-- 0..9999 in words. `lead`: the first group said (a leading 十 drops its
-- 一); 两 stands before 千 and 百, and for a lone 2 when `two` says so.
local function group(n, lead, two)
  local th, h, t, u = n // 1000, n // 100 % 10, n // 10 % 10, n % 10
  local s, zero = {}, false
  local function digit(d) return d == 2 and "两" or DIGIT[d] end
  if th > 0 then s[#s + 1] = digit(th) .. "千" end
  if h > 0 then
    s[#s + 1] = digit(h) .. "百"
  elseif th > 0 and (t > 0 or u > 0) then
    zero = true
  end
  if t > 0 then
    if zero then s[#s + 1] = "零" zero = false end
    s[#s + 1] = (t == 1 and lead and #s == 0) and "十" or DIGIT[t] .. "十"
  elseif (th > 0 or h > 0) and u > 0 then
    zero = true
  end
  if u > 0 then
    if zero then s[#s + 1] = "零" end
    s[#s + 1] = (u == 2 and two and #s == 0) and "两" or DIGIT[u]
  end
  return table.concat(s)
end

-- An integer count in standard Mandarin: 两条, 十二条, 一百零五, 两千零一十,
-- 一万零五百, 负三. 二 when 2 is said alone; 两 before a unit and as 两百,
-- 两千, 两万.
function ivr.number_words(n, unit)
  if math.type(n) ~= "integer" then
    local i = math.tointeger(n)
    if not i then fail("say_number takes an integer, not " .. tostring(n)) end
    n = i
  end
  if n < -99999999 or n > 99999999 then
    fail("say_number takes -99999999 to 99999999, not " .. n)
  end
  local words
  local m = math.abs(n)
  if m == 0 then
    words = "零"
  else
    local high, low = m // 10000, m % 10000
    local s = ""
    if high > 0 then s = group(high, true, true) .. "万" end
    if low > 0 then
      if high > 0 and low < 1000 then s = s .. "零" end
      s = s .. group(low, high == 0, high == 0 and unit ~= nil)
    end
    words = s
  end
  if n < 0 then words = "负" .. words end
  return words .. (unit or "")
end

function ivr.digit_words(s)
  s = tostring(s)
  local out = {}
  for c in s:gmatch(".") do
    local w = KEY[c:upper()]
    if not w then fail("say_digits takes 0-9, *, # and A-D, not '" .. c .. "'") end
    out[#out + 1] = w
  end
  return table.concat(out, " ")
end

-- ---- the calls ---------------------------------------------------------------

local WAIT = {}      -- yielded by the call's methods to wait for events
local Call = {}
Call.__index = Call

local current = nil       -- the call on the line
local options = nil       -- serve's options
local handler = nil       -- serve's function
local incoming = {}       -- the call being offered: rings, number, answered

-- Blocks the call until one of `events` (or the call's end, or `timeout`
-- seconds): answers the event's name and arguments, "timeout" or "gone".
local function pause(call, events, timeout, even_gone)
  if call.gone and not even_gone then return "gone" end
  return coroutine.yield(WAIT, events, timeout)
end

local step

local function resume_later(call, seconds, ...)
  local args = table.pack(...)
  after(seconds, function() step(call, table.unpack(args, 1, args.n)) end)
end

local function finish(call, ok, err)
  call.done = true
  sys.guard(call.co, false)
  if not ok then
    local message = tostring(err)
    sys.call_failed(message, call.id or 0)
  end
  if not call.gone then
    if call.recording then ctl:StopRecord() end
    if call.playing then ctl:StopPlayWav() end
    call.gone = true
    ctl:HandUp()
  end
end

-- Runs the call's coroutine until it waits again.
step = function(call, ...)
  if call.done then return end
  call.want, call.timer = nil, call.timer + 1
  local r = table.pack(coroutine.resume(call.co, ...))
  if coroutine.status(call.co) == "dead" then return finish(call, r[1], r[2]) end
  if r[2] == WAIT then
    call.want = r[3]
    if r[4] then
      local mine = call.timer
      after(r[4], function() if call.timer == mine and not call.done then step(call, "timeout") end end)
    end
  elseif math.type(r[2]) then       -- wait(seconds) in the call's function
    resume_later(call, r[2])
  elseif type(r[2]) == "string" then  -- wait_event(name, timeout)
    local mine = call.timer
    call.want = {[r[2]] = "event", event = true}
    after(r[3] or 3600, function() if call.timer == mine and not call.done then step(call, false) end end)
  else
    resume_later(call, 0)
  end
end

-- An event for the call: resumes it when it waits for that one.
local function deliver(call, name, ...)
  local want = call.want
  if not want or call.done then return end
  if want.event then  -- wait_event: its event, else false once the call has gone
    if want[name] == "event" then
      step(call, true, ...)
    elseif call.gone then
      step(call, false)
    end
  elseif want[name] or (call.gone and want.gone ~= false) then
    step(call, call.gone and not want[name] and "gone" or name, ...)
  end
end

function Call:connected() return not self.gone end

function Call:hangup()
  if not self.gone then
    self.gone = true
    ctl:HandUp()
  end
  return true
end

-- Plays one item; true, false (cut by a key, with barge) or nil (gone).
local function play_one(call, item, barge)
  if barge and #call.keys > 0 then return false end
  local r
  if type(item) == "string" and item:lower():match("%.wav$") then
    local path = item:sub(1, 1) == "/" and item or script_dir .. "/" .. item
    -- The control plays its unknown-sound tone for a file it cannot open.
    local f = io.open(path, "rb")
    if not f then fail("cannot play " .. item .. ": there is no such file") end
    f:close()
    r = ctl:PlayWav(path, LINE)
    if r ~= 0 then fail("cannot play " .. item .. " (PlayWav answered " .. tostring(r) .. ")") end
  else
    r = ctl:PlayStr(tostring(item), LINE)
    if r ~= 0 then
      pause(call, {EndPlayAll = true})
      fail("cannot say \"" .. tostring(item) .. "\" (PlayStr answered " .. tostring(r) .. ")")
    end
  end
  call.playing = true
  while true do
    local ev = pause(call, {EndPlayAll = true, DtmfIn = barge or nil})
    if ev == "EndPlayAll" then
      call.playing = false
      if call.gone then return nil end
      return true
    elseif ev == "DtmfIn" then
      ctl:StopPlayWav()
      pause(call, {EndPlayAll = true})
      call.playing = false
      if call.gone then return nil end
      return false
    else
      call.playing = false
      return nil
    end
  end
end

local function barge_option(o)
  if o == nil then return false end
  if type(o) ~= "table" then fail("the options are a table such as {barge = true}") end
  return o.barge and true or false
end

function Call:say(text, o)
  if self.gone then return nil end
  if type(text) ~= "string" and type(text) ~= "number" then fail("say takes a text") end
  return play_one(self, tostring(text), barge_option(o))
end

function Call:play(items, o)
  if self.gone then return nil end
  local barge = barge_option(o)
  if type(items) ~= "table" then items = {items} end
  for _, item in ipairs(items) do
    local r = play_one(self, item, barge)
    if r ~= true then return r end
  end
  return true
end

function Call:say_number(n, unit)
  local words = ivr.number_words(n, unit)
  return self:say(words)
end

function Call:say_digits(s)
  local words = ivr.digit_words(s)
  return self:say(words)
end

local function take_key(call)
  return table.remove(call.keys, 1)
end

function Call:ask(o)
  if type(o) ~= "table" then fail("ask takes a table such as {prompt = \"...\", digits = 4}") end
  local tries = o.tries or 3
  local timeout = o.timeout or 5
  local digits, terminator = o.digits, o.terminator
  if digits ~= nil and (math.type(digits) ~= "integer" or digits < 1) then fail("ask: digits is a whole number above 0") end
  if type(timeout) ~= "number" or timeout <= 0 then fail("ask: timeout is a number of seconds above 0") end
  for try = 1, tries do
    if self.gone then return nil end
    if o.prompt and #self.keys == 0 then
      if self:play(o.prompt, {barge = true}) == nil then return nil end
    end
    local answer, timed_out = "", false
    while true do
      local k = take_key(self)
      if k then
        if terminator and k == terminator then break end
        answer = answer .. k
        if digits and #answer >= digits then break end
      else
        local ev = pause(self, {DtmfIn = true}, timeout)
        if ev == "gone" then return nil end
        if ev == "timeout" then timed_out = true break end
      end
    end
    local ok
    if answer == "" then
      ok = false
    elseif o.valid then
      ok = o.valid(answer) and true or false
    else
      ok = not (timed_out and digits and #answer < digits)
    end
    if ok then return answer end
    if try < tries and o.invalid then
      if self:say(o.invalid, {barge = true}) == nil then return nil end
    end
  end
  return nil
end

-- The audio length of a WAV file in seconds (0 when it cannot be read).
local function wav_seconds(path)
  local f = io.open(path, "rb")
  if not f then return 0 end
  local data = f:read("a")
  f:close()
  if #data < 12 or data:sub(1, 4) ~= "RIFF" or data:sub(9, 12) ~= "WAVE" then return 0 end
  local pos, rate, size = 13, nil, nil
  while pos + 8 <= #data do
    local id, len = data:sub(pos, pos + 3), string.unpack("<I4", data, pos + 4)
    if id == "fmt " then rate = string.unpack("<I4", data, pos + 16) end  -- bytes a second
    if id == "data" then size = math.min(len, #data - pos - 7) end
    pos = pos + 8 + len + len % 2
  end
  if not rate or rate == 0 or not size then return 0 end
  return size / rate
end

local beep_file = nil

function Call:record(o)
  if type(o) ~= "table" or type(o.file) ~= "string" or o.file == "" then
    fail("record takes a table with a file: {file = \"message.wav\", max = 60}")
  end
  local max = math.ceil(o.max or 60)
  if max < 1 then fail("record: max is a number of seconds above 0") end
  if self.gone then return nil end
  local path = o.file:sub(1, 1) == "/" and o.file or self.dir .. "/" .. o.file
  if o.beep then
    if not beep_file then
      beep_file = out_dir .. "/.ivr-beep.wav"
      write_tones(beep_file, {{1000, 0.3}})
    end
    if self:play(beep_file) == nil then return nil end
  end
  local r = ctl:RecordWav(LINE, path, max)
  if r ~= 0 then fail("cannot record into " .. path .. " (RecordWav answered " .. tostring(r) .. ")") end
  self.recording = true
  self.keys = {}
  local ended
  while true do
    local ev, _, key = pause(self, {DtmfIn = true, EndRecord = true, DisConnected = true, gone = false}, nil, true)
    if ev == "DtmfIn" then
      take_key(self)
      if o.terminator and key == o.terminator and not ended then
        ended = "key"
        ctl:StopRecord()
      end
    elseif ev == "DisConnected" then
      ended = ended or "hangup"
    elseif ev == "EndRecord" or ev == "gone" then
      break
    end
  end
  self.recording = false
  self.gone = true  -- the end of a recording drops the call
  return {file = path, seconds = wav_seconds(path), ended = ended or "max"}
end

-- ---- the line --------------------------------------------------------------

local function start_call()
  local call = setmetatable({id = call_id(), number = incoming.number, keys = {}, timer = 0,
                             dir = sys.call_dir() or out_dir}, Call)
  incoming = {}
  current = call
  ctl:BeginMonitorDtmf(LINE)
  call.co = coroutine.create(function() return handler(call) end)
  sys.guard(call.co)
  step(call)
end

local function answer()
  if incoming.answered then return end
  incoming.answered = true
  ctl:AnswerTp()
end

local function on_event(name, ...)
  local call = current
  if name == "Ring" then
    local n = ...
    if n == 1 then incoming = {rings = 1, number = incoming.number} end
    if n == options.answer_on_ring then
      -- On the first ring the caller's number may still be on its way.
      if n == 1 and not incoming.number then
        local mine = incoming
        mine.waiting = true
        after(1, function() if incoming == mine and mine.waiting then answer() end end)
      else
        answer()
      end
    end
  elseif name == "CallIDIn" then
    local number = ctl:GetTPNO()
    incoming.number = number ~= "" and number or nil
    if incoming.waiting then answer() end
  elseif name == "IsConnect" then
    if incoming.answered then start_call() end
  elseif call then
    if name == "DtmfIn" then
      local _, key = ...
      if not call.gone then call.keys[#call.keys + 1] = key end
    elseif name == "DisConnected" then
      if not call.gone then
        if call.playing then ctl:StopPlayWav() end
        if call.recording then ctl:StopRecord() else ctl:HandUp() end
        call.gone = true
      end
    elseif name == "LineIsFree" then
      call.gone = true
      current = nil
    elseif name == "EndRecord" then
      call.recording = false
    end
    deliver(call, name, ...)
  end
end

function ivr.serve(fn, opts)
  if type(fn) ~= "function" then error("ivr.serve takes the call's function", 2) end
  if handler then error("ivr.serve runs once", 2) end
  opts = opts or {}
  if type(opts) ~= "table" then error("ivr.serve's options are a table", 2) end
  options = {answer_on_ring = opts.answer_on_ring or 1}
  if math.type(options.answer_on_ring) ~= "integer" or options.answer_on_ring < 1 then
    error("answer_on_ring is a ring number from 1", 2)
  end
  handler = fn
  if not sys.called("InitLine") then ctl:InitLine(LINE) end
  if not sys.called("OpenLine") then
    local r = ctl:OpenLine(LINE)
    if r ~= 0 then error("line " .. LINE .. " did not open (OpenLine answered " .. tostring(r) .. ")", 2) end
  end
  sys.listen(on_event)
end

return ivr
