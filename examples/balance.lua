-- A balance line. Answers on the second ring, greets the caller, offers a
-- menu, reads the balance (1), takes a message (2, ended with #), says
-- goodbye (0), hangs up, and is ready for the next call. The control drops
-- the call itself when a recording ends, so the message path says its
-- goodbye before the tone.
--
--   marlune run examples/balance.lua examples/balance_callers.lua --out out

local LINE = 0          -- Dev 0: the call's wave device
local BALANCE = "12.5"  -- a real service would look the caller up

-- PlayStr speaks each hanzi from the voice pack, numbers as Chinese words
-- and runs of letters through the speech engine; a full-width mark such as
-- "，" is a character the pack does not hold and would sound as a tone, so
-- the prompts part their phrases with ASCII spaces, which are not spoken.
local PROMPTS = {
  greeting = "您好 欢迎致电Marlune余额查询",
  menu     = "查询余额请按1 留言请按2 结束请按0",
  balance  = "您的余额是" .. BALANCE .. "元",
  offer    = "如需留言请按2 结束请按0",
  record   = "请在提示音后留言 按井号键结束 谢谢您的来电 再见",
  goodbye  = "谢谢您的来电 再见",
}

local state = "idle"  -- idle, greeting, menu, balance, offer, record_prompt, tone, recording, goodbye, hanging_up
local pending = nil   -- a key pressed while a prompt played
local menu_timer = 0  -- the current wait for a key (older ones are stale)

-- The tone before the recording: 0.4 s of 1 kHz.
write_tones("tone.wav", {{1000, 0.4}})

print("line: " .. ctl:InitLine(0))
assert(ctl:OpenLine(0) == 0, "the line did not open")

local function say(next_state, text)
  state = next_state
  ctl:PlayStr(text, LINE)
end

local function goodbye()
  say("goodbye", PROMPTS.goodbye)
end

-- Waits 10 s for a key after a menu; then says goodbye.
local function wait_for_key()
  menu_timer = menu_timer + 1
  local mine = menu_timer
  after(10, function()
    if mine == menu_timer and (state == "menu" or state == "offer") then goodbye() end
  end)
end

local function choose(key)
  pending = nil
  menu_timer = menu_timer + 1
  if key == "1" and state == "menu" then
    say("balance", PROMPTS.balance)
  elseif key == "2" then
    say("record_prompt", PROMPTS.record)
  elseif key == "0" then
    goodbye()
  else
    wait_for_key()  -- not a choice here: keep waiting
  end
end

function Ring(n)
  if n == 2 then ctl:AnswerTp() end
end

function IsConnect(h)
  pending = nil
  ctl:ClearDTMF(0)
  ctl:BeginMonitorDtmf(0)
  say("greeting", PROMPTS.greeting)
end

function DtmfIn(h, key)
  if state == "recording" then
    if key == "#" then ctl:StopRecord() end
  elseif state == "menu" or state == "offer" then
    choose(key)
  elseif state == "greeting" or state == "balance" then
    pending = key  -- acted on when the prompt has played
  end
end

function EndPlayAll()
  if state == "greeting" then
    state = "menu"
    if pending then choose(pending) else say("menu", PROMPTS.menu) end
  elseif state == "menu" then
    if pending then choose(pending) else wait_for_key() end
  elseif state == "balance" then
    if pending then state = "offer"; choose(pending) else say("offer", PROMPTS.offer) end
  elseif state == "offer" then
    wait_for_key()
  elseif state == "record_prompt" then
    state = "tone"
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
  -- The caller hung up: stop what is going on and free the line.
  if state == "recording" then ctl:StopRecord() end
  state = "hanging_up"
  ctl:HandUp()
end

function LineIsFree(h)
  state = "idle"
  pending = nil
end
