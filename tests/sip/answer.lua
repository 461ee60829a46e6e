-- Answers on the first ring, plays a tone, records the caller until the
-- caller hangs up, and prints every event it sees.
write_tones("tone.wav", {{1000, 1.0}})
print("line: " .. ctl:InitLine(0))
assert(ctl:OpenLine(0) == 0, "the line did not open")
function Ring(n)
  print("ring " .. n .. " at " .. string.format("%.2f", now()))
  if n == 1 then ctl:AnswerTp() end
end
function CallIDIn(h) print("caller " .. ctl:GetTPNO()) end
function IsConnect(h)
  print("connected")
  ctl:BeginMonitorDtmf(0)
  ctl:PlayWav("tone.wav", 0)
  ctl:RecordWav(0, string.format("heard-%d.wav", call_id()), 30)
end
function DtmfIn(h, key) print("key " .. key) end
function DisConnected(h)
  print("disconnected at " .. string.format("%.2f", now()))
  ctl:StopRecord()
  ctl:HandUp()
end
function LineIsFree(h) print("free") end
