-- The service the SIP tests run: prints every event it sees with the clock.
-- SIP_MODE says what it does with a call:
--   answer   answers on the first ring, plays a tone, records the caller
--   reject   hangs up on the first ring, unanswered
--   ring     lets it ring
--   hangup   answers, then hangs up itself after a second
--   callout  calls SIP_NUMBER at once and hangs up a second after it connects
--   stop     answers, plays a 3 s tone and stops it after a second
local mode = os.getenv("SIP_MODE") or "answer"
write_tones("tone.wav", {{1000, 1.0}})
write_tones("long.wav", {{1000, 3.0}})

local function say(text) print(string.format("%.2f %s", now(), text)) io.stdout:flush() end

say("line: " .. ctl:InitLine(0))
assert(ctl:OpenLine(0) == 0, "the line did not open")

function Ring(n)
  say("ring " .. n)
  if n ~= 1 then return end
  if mode == "reject" then ctl:HandUp() elseif mode ~= "ring" then ctl:AnswerTp() end
end
function CallIDIn(h) say("caller " .. ctl:GetTPNO()) end
function IsConnect(h)
  say("connected")
  ctl:BeginMonitorDtmf(0)
  if mode == "answer" then
    ctl:PlayWav("tone.wav", 0)
    ctl:RecordWav(0, string.format("heard-%d.wav", call_id()), 30)
  elseif mode == "stop" then
    ctl:PlayWav("long.wav", 0)
    after(1, function() ctl:StopPlayWav() end)
  else
    after(1, function() ctl:HandUp() end)
  end
end
function DtmfIn(h, key) say("key " .. key) end
function DisConnected(h)
  say("disconnected")
  if mode == "answer" then ctl:StopRecord() end
  ctl:HandUp()
end
function LineIsFree(h)
  say("free")
  if mode == "callout" then stop() end
end

if mode == "callout" then
  say("callout " .. ctl:CallOut(0, os.getenv("SIP_NUMBER")))
end
