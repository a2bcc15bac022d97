-- wrk script for bench/plugin_host_ratio.sh: one case per run, named by the
-- environment variable CASE. Every case goes through the same machinery on
-- wrk's side - a list of ready-made requests built once in init, handed out
-- in turn by request() - so wrk spends the same per request whatever the
-- case, and what differs between cases is the server's work alone (wrk
-- shares the machine's cores with the server).
--
--   fixed       GET  /host/fixed (the server's fixed answer, no plug-in)
--   fixed-post  POST /host/fixed with a UI-state body (read and dropped)
--   read        GET  one feature's UI state
--   write       POST a UI state (JSON body) to the FEATURES features in turn
--   mix         three single reads for every write, over FEATURES features
--   list        GET  every feature's UI state (FEATURES of them)
--
-- Every answer is expected to be 2xx; wrk reports the others as
-- "Non-2xx or 3xx responses", which the script treats as a failure.

local case = os.getenv("CASE") or "fixed"
local features = tonumber(os.getenv("FEATURES") or "32")
local base = "/qem-quorvex-zv/v1/ui-states"
local json = { ["Content-Type"] = "application/json" }
local requests = {}
local next_request = 0

local function body(n)
  return '{"state":"s' .. n .. '","updatedBy":"wrk","data":{"n":' .. n .. '}}'
end

local function add(method, path, headers, payload)
  requests[#requests + 1] = wrk.format(method, path, headers, payload)
end

init = function(args)
  if case == "fixed" then
    add("GET", "/host/fixed")
  elseif case == "fixed-post" then
    add("POST", "/host/fixed", json, body(0))
  elseif case == "read" then
    add("GET", base .. "/f0")
  elseif case == "write" then
    for i = 0, features - 1 do add("POST", base .. "/f" .. i, json, body(i)) end
  elseif case == "mix" then
    for i = 0, features - 1 do
      if i % 4 == 0 then add("POST", base .. "/f" .. i, json, body(i)) else add("GET", base .. "/f" .. i) end
    end
  elseif case == "list" then
    add("GET", base)
  else
    error("plugin_host_ratio.lua: unknown CASE " .. case)
  end
end

request = function()
  next_request = next_request % #requests + 1
  return requests[next_request]
end
