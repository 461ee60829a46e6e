-- Five callers for examples/voicemail.lua: two leave messages in mailbox
-- 1001 (one types everything at once, one hangs up while recording), one
-- presses nothing, mistypes the mailbox and the PIN, listens and deletes,
-- one listens after the message's file has gone from the disk (the call
-- ends with an error), and the next caller is served as usual.

-- What the callers say (short melodies stand in for voices).
write_tones("voice_a.wav", {{330, 0.5}, {0, 0.2}, {392, 0.5}, {0, 0.2}, {440, 1.0}})
write_tones("voice_b.wav", {{523, 0.4}, {0, 0.1}, {494, 0.4}, {0, 0.1}, {440, 2.5}})

local function dial(number)
  caller.offer{caller = number}
  caller.ring{count = 4, interval = 4}
  assert(wait_event("IsConnect", 30), "the line did not answer")
end

local second  -- the call whose message goes missing

at(1, function()
  -- 1: knows the menu: 1 (leave), then the mailbox, five keys 10 ms apart
  -- during the greeting; speaks after the tone and ends with #.
  dial("13800138000")
  wait(1)
  caller.keys{keys = "11001", interval = 0.01}
  wait_event("RecordDevOpen", 60)
  wait(0.5)
  caller.caller_voice{wav = "voice_a.wav"}
  wait(2.5)
  caller.keys{keys = "#"}
  wait_event("LineIsFree", 30)
  wait(2)

  -- 2: 1 while the menu plays, the mailbox after its prompt, then hangs up
  -- in the middle of the message (it is kept).
  dial("13912345678")
  second = call_id()
  wait_event("EndPlayAll")       -- the greeting
  wait(0.5)
  caller.keys{keys = "1"}
  wait_event("EndPlayAll")       -- the menu, cut by the key
  wait_event("EndPlayAll")       -- the mailbox prompt
  caller.keys{keys = "1001", interval = 0.2}
  wait_event("RecordDevOpen", 60)
  wait(0.5)
  caller.caller_voice{wav = "voice_b.wav"}
  wait(2)
  caller.hangup()
  wait_event("LineIsFree", 30)
  wait(2)

  -- 3: presses nothing (the menu is asked again after "输入有误"), then 2,
  -- a mailbox that does not exist, the right one, a wrong PIN, the right
  -- one; deletes the first message with 7 while its question plays and
  -- keeps the second with 1.
  dial("02087654321")
  wait_event("EndPlayAll")       -- the greeting
  wait_event("EndPlayAll")       -- the menu; nothing pressed
  wait_event("EndPlayAll", 30)   -- 输入有误, after the time-out
  wait_event("EndPlayAll")       -- the menu again
  caller.keys{keys = "2"}
  wait_event("EndPlayAll")       -- the mailbox prompt
  caller.keys{keys = "9999", interval = 0.2}
  wait_event("EndPlayAll")       -- 信箱号码有误
  wait_event("EndPlayAll")       -- the mailbox prompt again
  caller.keys{keys = "1001", interval = 0.2}
  wait_event("EndPlayAll")       -- the PIN prompt
  caller.keys{keys = "1111#", interval = 0.2}
  wait_event("EndPlayAll")       -- 密码错误
  wait_event("EndPlayAll")       -- the PIN prompt again
  caller.keys{keys = "1234#", interval = 0.2}
  for _ = 1, 5 do wait_event("EndPlayAll") end  -- 您有 两条 留言, 第一条留言, the message
  wait_event("EndPlayAll")       -- 来电号码
  wait_event("EndPlayAll")       -- the number
  wait(0.5)
  caller.keys{keys = "7"}        -- during the question
  wait_event("EndPlayAll")       -- the question, cut
  wait_event("EndPlayAll")       -- 已删除
  for _ = 1, 4 do wait_event("EndPlayAll") end  -- 第一条留言, the message, 来电号码, the number
  wait(0.5)
  caller.keys{keys = "1"}
  wait_event("LineIsFree", 60)
  wait(2)

  -- 4: listens to mailbox 1001 after its message's file was deleted by
  -- someone else: the call ends with an error.
  os.remove(out_dir .. "/call-" .. second .. "/msg-" .. second .. ".wav")
  dial("13600000000")
  wait(1)
  caller.keys{keys = "210011234#", interval = 0.1}
  wait_event("LineIsFree", 60)
  wait(2)

  -- 5: is served as usual: mailbox 1002 has no messages.
  dial("13700000000")
  wait(1)
  caller.keys{keys = "210025678#", interval = 0.1}
  wait_event("LineIsFree", 60)
end)
