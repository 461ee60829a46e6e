-- An outgoing reminder call: dials the number, reads the reminder when the
-- called party answers, asks for 1 to confirm, repeats once without an
-- answer, says goodbye and hangs up.
--
--   marlune run examples/reminder.lua examples/reminder_callers.lua --out out

local NUMBER = "13912345678"
-- Digits would be read as amounts (9 as 九点零零): the date and the key are in hanzi.
local REMINDER = "您好 这里是Marlune提醒服务 您预约的体检在十二月八日上午九点 确认请按一"
local LINE = 0

local state = "idle"  -- dialling, reminding, stopping, waiting, goodbye, done
local tries = 0
confirmed = false     -- global: a test or a caller script may read it

ctl:InitLine(0)
assert(ctl:OpenLine(0) == 0, "the line did not open")

local function remind()
  tries = tries + 1
  state = "reminding"
  ctl:PlayStr(REMINDER, LINE)
end

local function goodbye(text)
  state = "goodbye"
  ctl:PlayStr(text, LINE)
end

function IsConnect(h)
  ctl:BeginMonitorDtmf(0)
  remind()
end

function DtmfIn(h, key)
  if key ~= "1" or confirmed then return end
  confirmed = true
  if state == "reminding" then
    -- Cut the reminder short; its EndPlayAll follows, then the goodbye.
    state = "stopping"
    ctl:StopPlayWav()
  elseif state == "waiting" then
    goodbye("已为您确认 谢谢 再见")
  end
end

function EndPlayAll()
  if state == "stopping" then
    goodbye("已为您确认 谢谢 再见")
  elseif state == "reminding" then
    state = "waiting"
    local try = tries
    after(5, function()
      if state == "waiting" and tries == try then
        if tries < 2 then remind() else goodbye("再见") end
      end
    end)
  elseif state == "goodbye" then
    state = "done"
    ctl:HandUp()
  end
end

function DisConnected(h)
  -- HandUp does not stop a prompt: stop it, or the next call hears the rest.
  if state == "reminding" or state == "goodbye" then ctl:StopPlayWav() end
  state = "done"
  ctl:HandUp()
end

function LineIsFree(h)
  print(confirmed and "reminder confirmed" or "reminder not confirmed")
end

-- Dial a second into the session (the caller script sets the far end up first).
at(1, function()
  state = "dialling"
  local r = ctl:CallOut(0, NUMBER)
  assert(r == 0, "CallOut answered " .. tostring(r))
end)
