-- Four callers for examples/balance.lua: one asks for the balance (and
-- mistypes the code once), one leaves a message, one hangs up while the
-- greeting plays, one presses nothing and then three wrong codes.

-- What the second caller says (a short melody stands in for a voice).
write_tones("caller_message.wav", {{330, 0.5}, {0, 0.2}, {392, 0.5}, {0, 0.2}, {440, 1.0}})

local function dial(number)
  caller.offer{caller = number}
  caller.ring{count = 4, interval = 4}
  assert(wait_event("IsConnect", 30), "the line did not answer")
end

at(1, function()
  -- 1: presses 1 during the greeting (it stops at once), a wrong code, the
  -- right one, then 0 while the offer to leave a message plays.
  dial("13800138000")
  wait(1)
  caller.keys{keys = "1"}
  wait(1)                        -- part of the code prompt
  caller.keys{keys = "1111", interval = 0.3}
  wait(2.5)                      -- the code again, during "wrong code"
  caller.keys{keys = "1234", interval = 0.3}
  wait(1)
  wait_event("EndPlayAll")       -- the balance
  wait(1.5)
  caller.keys{keys = "0"}
  wait_event("LineIsFree", 60)
  wait(3)

  -- 2: a message, ended with #.
  dial("13912345678")
  wait(1.5)
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
  wait(3)

  -- 4: presses nothing (the menu is said again after the time-out), then
  -- 1 and three wrong codes.
  dial("13600000000")
  wait_event("EndPlayAll")       -- the greeting
  wait_event("EndPlayAll")       -- the menu
  wait_event("EndPlayAll", 30)   -- the menu again, after the time-out
  caller.keys{keys = "1"}
  for _ = 1, 3 do
    wait_event("EndPlayAll")     -- the code prompt, or "wrong code"
    caller.keys{keys = "0000", interval = 0.3}
  end
  wait_event("LineIsFree", 60)
end)
