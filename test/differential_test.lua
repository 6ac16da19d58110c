-- Every filter against the reference model, call by call, over random data,
-- random chunkings and random parameters; and chunked output against the
-- output of one call over the whole input.
--
-- The seed is fixed (MIME_SEED overrides it) and every failure names it with
-- the round, so a failing stream can be replayed.

local here = debug.getinfo(1, "S").source:match("^@(.*[/\\])") or "./"
local support = dofile(here .. "support.lua")
local mime = require "mime.core"

local SEED = tonumber(os.getenv("MIME_SEED")) or 1045

local BASE64_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"

local function data_kinds(random)
  return {
    function(n) return random.bytes(n) end,
    -- Text heavy in what the filters look at.
    function(n) return random.bytes(n, "\r\r\r\n\n\n   \t\t===...0123456789ABCDEFabcdefgz~\0\128") end,
    -- Base64 text with padding and junk.
    function(n) return random.bytes(n, BASE64_ALPHABET .. "=====\r\n -_!*\0\255") end,
  }
end

local LINE_ENDS = { n = 8, nil, "\r\n", "\n", "", "XY", "A\0B", "\0", 7 }
local LINE_LENGTHS = { n = 17, nil, 0, 1, 2, 3, 4, 5, 7, 76, -1, -7, 2.5, -2.5, "12",
                       2 ^ 31, -2 ^ 31, -2 ^ 40 }
local STARTS = {
  wrp = { 0, 1, 2, 3, 4, 76, -1, -3, 2.7, -2.5, "5", 1e10, -1e10, 0 / 0 },
  eol = { 0, 10, 13, 5, 3.7, -1, "13", "10", 13.9, -13, 2 ^ 40, 10.5 },
  dot = { 0, 1, 2, 5, -1, 2.7, 1.5, 2 ^ 32, 2 ^ 32 - 1, "2", -0.0, 1.99 },
}
STARTS.qpwrp = STARTS.wrp

-- Parameters for one stream: the starting carry or state and the third
-- argument.
local function pick_options(random, name)
  local opts = {}
  if name == "qp" or name == "eol" then
    opts.param = LINE_ENDS[random.int(1, LINE_ENDS.n)]
  elseif name == "wrp" or name == "qpwrp" then
    opts.param = LINE_LENGTHS[random.int(1, LINE_LENGTHS.n)]
  end
  if STARTS[name] then
    if random.int(0, 2) == 0 then
      opts.state = random.int(-2, 80)
    else
      opts.state = random.pick(STARTS[name])
    end
  end
  return opts
end

local function random_sizes(random)
  local sizes = {}
  for i = 1, random.int(1, 8) do sizes[i] = random.int(0, 12) end
  sizes[#sizes + 1] = random.int(0, 90)
  return sizes
end

local function show_list(list)
  local shown = {}
  for i, v in ipairs(list) do shown[i] = tostring(v) end
  return "{" .. table.concat(shown, ",") .. "}"
end

-- The output of one call over everything, with the same start.
local function whole(name, data, opts)
  if support.TWO_CHUNK[name] then
    local first
    if opts.param ~= nil then
      first = mime[name](data, nil, opts.param)
    else
      first = mime[name](data, nil)
    end
    return first or "", nil
  end
  local out, _, calls = support.stream(mime, name, { data }, opts)
  return out, #calls > 1 and calls[#calls - 1].results[2] or nil
end

describe("module against the model", function()
  for position, name in ipairs(support.NAMES) do
    it(name .. " agrees on every call, for every chunking", function()
      local random = support.random(SEED * 31 + position)
      local kinds = data_kinds(random)
      local rounds = 0
      local function round(sizes)
        rounds = rounds + 1
        local data = kinds[random.int(1, #kinds)](random.int(0, 400))
        local opts = pick_options(random, name)
        local context = ("seed %d, %s round %d, %d bytes, sizes %s, start %s, param %s"):format(
          SEED, name, rounds, #data, show_list(sizes), support.show(opts.state),
          support.show(opts.param))
        local chunks = support.split(data, sizes)
        local out = support.lockstep(mime, name, chunks, opts, context)
        -- Chunking never changes the result.
        local all, state_after = whole(name, data, opts)
        local _, _, calls = support.stream(mime, name, chunks, opts)
        local chunked_state = #calls > 1 and calls[#calls - 1].results[2] or nil
        if out ~= all or (not support.TWO_CHUNK[name] and #data > 0
            and not support.same(chunked_state, state_after)) then
          error(("%s: chunked %s / %s, whole %s / %s"):format(context, support.show(out),
            support.show(chunked_state), support.show(all), support.show(state_after)))
        end
      end
      for size = 1, 70 do round({ size }) end
      for _ = 1, 300 do round(random_sizes(random)) end
    end)
  end
end)

-- The module works through long inputs in slices and shrinks the slices when
-- a long line end could make their output large: state must cross every
-- slice boundary as it crosses a chunk boundary.
describe("module against the model on long inputs", function()
  local random = support.random(SEED)
  local kinds = data_kinds(random)
  local pieces = {}
  for i = 1, 300 do
    pieces[i] = kinds[i % #kinds + 1](random.int(0, 1200))
  end
  local long = table.concat(pieces)

  for _, name in ipairs(support.NAMES) do
    it(name .. " agrees over " .. #long .. " bytes", function()
      local context = ("seed %d, %s over %d bytes"):format(SEED, name, #long)
      local chunked = support.lockstep(mime, name, support.split(long, { 40000, 1, 0, 33000 }),
        {}, context)
      assert(chunked == whole(name, long, {}), context .. ": chunked and whole output differ")
    end)
  end

  it("qp and eol agree with line ends of any length", function()
    for _, size in ipairs({ 64, 5000, 100000, 1500000 }) do
      -- Fewer line breaks as the line end grows, to keep the output small.
      local text = random.bytes(math.floor(200000 / size) + 20, "\r\n \tab=")
      local line_end = ("L"):rep(size - 1) .. "E"
      for _, name in ipairs({ "qp", "eol" }) do
        local context = ("seed %d, %s with a %d-byte line end"):format(SEED, name, size)
        local opts = { param = line_end }
        local chunked = support.lockstep(mime, name, support.split(text, { 1000, 7, 13 }), opts,
          context)
        assert(chunked == whole(name, text, opts), context .. ": chunked and whole output differ")
      end
    end
  end)
end)
