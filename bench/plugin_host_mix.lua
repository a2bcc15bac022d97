-- wrk script for bench/plugin_host_load.sh: a mix of the plug-in's three
-- calls over FEATURES features - one write (JSON body) for every three reads
-- (two single reads, one list). Every answer is expected to be 2xx; wrk
-- counts the others as "Non-2xx or 3xx responses".

local features = tonumber(os.getenv("FEATURES") or "32")
local base = "/qem-quorvex-zv/v1/ui-states"
local counter = 0

request = function()
  counter = counter + 1
  local feature = "f" .. (counter % features)
  local kind = counter % 4
  if kind == 0 then
    local body = '{"state":"s' .. counter .. '","updatedBy":"wrk","data":{"n":' .. counter .. '}}'
    return wrk.format("POST", base .. "/" .. feature, { ["Content-Type"] = "application/json" }, body)
  elseif kind == 1 then
    return wrk.format("GET", base)
  else
    return wrk.format("GET", base .. "/" .. feature)
  end
end

done = function(summary, latency, requests)
  io.write(string.format("latency p50 %.0f us, p90 %.0f us, p99 %.0f us, max %.0f us\n",
    latency:percentile(50), latency:percentile(90), latency:percentile(99), latency.max))
  io.write(string.format("requests %d, errors connect %d read %d write %d status %d timeout %d\n",
    summary.requests, summary.errors.connect, summary.errors.read, summary.errors.write,
    summary.errors.status, summary.errors.timeout))
end
