-- wrk script: sends 16 GET /health requests back to back on each connection and waits for
-- their 16 answers before sending the next batch.
local depth = 16

init = function(args)
  local batch = {}
  for i = 1, depth do
    batch[i] = wrk.format("GET", "/health")
  end
  pipelined = table.concat(batch)
end

request = function()
  return pipelined
end
