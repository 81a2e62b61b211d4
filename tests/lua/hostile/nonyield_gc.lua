-- max-rss-mb: 256
-- An endless finalizer is stopped; its error is dropped like any finalizer error, and the
-- program goes on once the debt it ran up is paid.
setmetatable({}, {__gc = function() while true do end end})
collectgarbage()
collectgarbage()
print("ok")
