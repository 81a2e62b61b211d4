-- expect-exit: 1
-- expect-stderr: ^report_traceback_loops\.lua:8: dead.stack traceback:..\(unavailable\).$
-- The traceback of a dead process looks function names up through the registry, which the
-- program can reach. Program code run there cannot yield and meets the cycle ceiling; the
-- report then has no traceback, and the host goes on.
debug.getregistry()._LOADED = nil
setmetatable(debug.getregistry(), {__index = function() while true do end end})
error("dead")
