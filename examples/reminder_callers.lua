-- The far end of examples/reminder.lua: answers after two seconds of
-- ringing, listens to the reminder and presses 1 before it ends.

caller.outgoing{mode = "answer", after = 2}

at(0, function()
  assert(wait_event("IsConnect", 30), "the call was not answered")
  wait(6)
  caller.keys{keys = "1"}
end)
