-- A balance line. Answers on the second ring, greets the caller and offers
-- a menu: 1 reads the balance after a four-digit code, 2 takes a message
-- (ended with #), 0 says goodbye. Then it hangs up and is ready for the
-- next call.
--
-- What it shows:
--   barge-in      a key stops the prompt that is playing and is acted on at
--                 once (StopPlayWav, then the next step in EndPlayAll,
--                 which follows it at the same moment)
--   time-outs     a caller who presses nothing hears the menu once more,
--                 then goodbye
--   retry limit   three wrong codes end the call
--   hang-ups      DisConnected stops the prompt (HandUp does not, and the
--                 next caller would hear the rest) and frees the line
--
--   marlune run examples/balance.lua examples/balance_callers.lua --out out

local LINE = 0          -- Dev 0: the call's wave device
local CODE = "1234"     -- a real service would look the caller up
local BALANCE = "12.5"
local KEY_TIMEOUT = 8   -- seconds to wait for a key
local MAX_TRIES = 3     -- wrong codes before goodbye

-- PlayStr speaks each hanzi from the voice pack and reads every run of
-- digits as an amount ("1" would be 一点零零), so keys are named in hanzi.
-- A full-width mark such as "，" is a sound of the pack (a pause in the
-- default pack, a tone in a pack without it); the prompts part their
-- phrases with ASCII spaces, which are never spoken.
local PROMPTS = {
  greeting = "您好 欢迎致电Marlune余额查询",
  menu     = "查询余额请按一 留言请按二 结束请按零",
  again    = "您没有按键",
  code     = "请输入四位密码",
  wrong    = "密码错误 请重新输入",
  locked   = "密码错误次数过多 谢谢您的来电 再见",
  balance  = "您的余额是" .. BALANCE .. "元",
  offer    = "如需留言请按二 结束请按零",
  record   = "请在提示音后留言 按井号键结束 谢谢您的来电 再见",
  goodbye  = "谢谢您的来电 再见",
}

-- idle, greeting, menu, code_prompt, code, balance, offer, record_prompt,
-- tone, recording, goodbye, hanging_up
local state = "idle"
local playing = false  -- a prompt is playing
local pending = nil    -- what to do once the prompt stopped by a key has ended
local timer = 0        -- the current wait for a key (older ones are stale)
local repeats = 0      -- menus repeated for want of a key
local entered = ""     -- the code so far
local tries = 0        -- wrong codes

-- The tone before the recording: 0.4 s of 1 kHz.
write_tones("tone.wav", {{1000, 0.4}})

print("line: " .. ctl:InitLine(0))
assert(ctl:OpenLine(0) == 0, "the line did not open")

local function say(next_state, text)
  state = next_state
  playing = true
  ctl:PlayStr(text, LINE)
end

local function goodbye(text)
  say("goodbye", text or PROMPTS.goodbye)
end

-- Waits for a key; on_timeout runs when none came in time.
local function wait_for_key(on_timeout)
  timer = timer + 1
  local mine = timer
  after(KEY_TIMEOUT, function()
    if mine == timer then on_timeout() end
  end)
end

local function menu_timeout()
  if repeats < 1 then
    repeats = repeats + 1
    say("menu", PROMPTS.again .. " " .. PROMPTS.menu)
  else
    goodbye()
  end
end

-- Barge-in: a prompt still playing is stopped, and `action` runs when its
-- EndPlayAll arrives (at once); otherwise it runs now.
local function act(action)
  timer = timer + 1  -- a key came: no time-out
  if playing then
    pending = action
    ctl:StopPlayWav()
  else
    action()
  end
end

local function check_code()
  if entered == CODE then
    say("balance", PROMPTS.balance)
  else
    tries = tries + 1
    entered = ""
    if tries >= MAX_TRIES then goodbye(PROMPTS.locked) else say("code_prompt", PROMPTS.wrong) end
  end
end

local function digit(key)
  state = "code"
  if key:match("%d") then entered = entered .. key end
  if #entered == #CODE then check_code() else wait_for_key(goodbye) end
end

-- The keys each state acts on.
local CHOICES = {
  greeting = {["1"] = "code", ["2"] = "record", ["0"] = "goodbye"},
  menu     = {["1"] = "code", ["2"] = "record", ["0"] = "goodbye"},
  balance  = {["2"] = "record", ["0"] = "goodbye"},
  offer    = {["2"] = "record", ["0"] = "goodbye"},
}

local function choose(choice)
  if choice == "code" then
    entered = ""
    say("code_prompt", PROMPTS.code)
  elseif choice == "record" then
    say("record_prompt", PROMPTS.record)
  else
    goodbye()
  end
end

function Ring(n)
  if n == 2 then ctl:AnswerTp() end
end

function IsConnect(h)
  pending, repeats, tries, entered = nil, 0, 0, ""
  ctl:ClearDTMF(0)
  ctl:BeginMonitorDtmf(0)
  say("greeting", PROMPTS.greeting)
end

function DtmfIn(h, key)
  if state == "recording" then
    if key == "#" then ctl:StopRecord() end
  elseif state == "code_prompt" or state == "code" then
    act(function() digit(key) end)
  else
    local choice = CHOICES[state] and CHOICES[state][key]
    if choice then act(function() choose(choice) end) end
  end
end

function EndPlayAll()
  playing = false
  if pending then
    local action = pending
    pending = nil
    action()
  elseif state == "greeting" then
    say("menu", PROMPTS.menu)
  elseif state == "menu" then
    wait_for_key(menu_timeout)
  elseif state == "code_prompt" then
    state = "code"
    wait_for_key(goodbye)
  elseif state == "balance" then
    say("offer", PROMPTS.offer)
  elseif state == "offer" then
    wait_for_key(goodbye)
  elseif state == "record_prompt" then
    state = "tone"
    playing = true
    ctl:PlayWav("tone.wav", LINE)
  elseif state == "tone" then
    state = "recording"
    -- Named by the call's lasting number: a later run never records over it.
    ctl:RecordWav(LINE, string.format("message-%d.wav", call_id()), 60)
  elseif state == "goodbye" then
    state = "hanging_up"
    ctl:HandUp()
  end
end

function EndRecord()
  -- The message is kept; the control has dropped the call.
  if state == "recording" then
    state = "hanging_up"
    ctl:HandUp()
  end
end

function DisConnected(h)
  -- The caller hung up: stop the prompt (else the next caller hears the
  -- rest of it) or the recording, and free the line.
  timer = timer + 1
  pending = nil
  if playing then ctl:StopPlayWav() end
  if state == "recording" then ctl:StopRecord() end
  state = "hanging_up"
  ctl:HandUp()
end

function LineIsFree(h)
  state = "idle"
  playing, pending = false, nil
  timer = timer + 1
end
