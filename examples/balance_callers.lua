-- Three callers for examples/balance.lua: one asks for the balance, one
-- leaves a message, one hangs up while the greeting plays.

-- What the second caller says (a short melody stands in for a voice).
write_tones("caller_message.wav", {{330, 0.5}, {0, 0.2}, {392, 0.5}, {0, 0.2}, {440, 1.0}})

local function dial(number)
  caller.offer{caller = number}
  caller.ring{count = 4, interval = 4}
  assert(wait_event("IsConnect", 30), "the line did not answer")
end

at(1, function()
  -- 1: the balance, then 0 to end.
  dial("13800138000")
  wait_event("EndPlayAll")   -- the greeting
  caller.keys{keys = "1"}    -- while the menu plays
  wait_event("EndPlayAll")   -- the menu
  wait_event("EndPlayAll")   -- the balance
  wait(1.5)                  -- part of the offer to leave a message
  caller.keys{keys = "0"}
  wait_event("LineIsFree", 60)
  wait(3)

  -- 2: a message, ended with #.
  dial("13912345678")
  wait_event("EndPlayAll")
  caller.keys{keys = "2"}
  wait_event("RecordDevOpen", 60)
  wait(0.5)
  caller.caller_voice{wav = "caller_message.wav"}
  wait(3)
  caller.keys{keys = "#"}
  wait_event("LineIsFree", 60)
  wait(3)

  -- 3: hangs up in the middle of the greeting.
  dial("02087654321")
  wait(1.2)
  caller.hangup()
  wait_event("LineIsFree", 30)
end)
