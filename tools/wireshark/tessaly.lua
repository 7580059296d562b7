-- Wireshark dissector for the Tessaly Panel's datagrams: the DDToIP and CW-Net
-- framings, the SDI messages they carry with their instructions, the status
-- answers and their 1024-byte status block, interrupt notices, and the
-- manufacturer test's messages sent straight to the device with their answers.
--
-- Install: copy this file into Wireshark's personal Lua plugins folder
-- (`tshark -G folders` names it), or load it for one run:
--   tshark -X lua_script:tools/wireshark/tessaly.lua -r capture.pcap
-- The device port (default 56789) is the preference tessaly.port; a heuristic
-- finds the datagrams on other ports too. Requests and their answers are linked
-- (tessaly.response_in, tessaly.response_to, tessaly.time); tshark needs -2 for
-- the link from a request to its answer.
--
-- Every read is checked against the captured bytes first: a short or
-- overrunning datagram is reported as expert information, never as an error.
-- Bits are taken with arithmetic, so no bit library is needed (Lua 5.2 has
-- bit32, later versions do not).

local DEFAULT_PORT = 56789

local p = Proto("tessaly", "Tessaly")

---------------------------------------------------------------------------
-- Numbers

local function bits(v, lo, n) return math.floor(v / 2 ^ lo) % 2 ^ n end
local function bit(v, n) return bits(v, n, 1) == 1 end
-- Integer division truncating towards zero, as the panel's C++ does.
local function idiv(a, b)
  local q = a / b
  if q < 0 then return math.ceil(q) end
  return math.floor(q)
end
local function hex2(v) return string.format("0x%02X", v) end

---------------------------------------------------------------------------
-- Value names

local framings = { [1] = "DDToIP", [2] = "CW-Net" }

local answer_kinds = {
  [1] = "status answer",
  [2] = "status answer, no device on the SDI",
  [3] = "interrupt notice",
  [4] = "device status answer",
  [5] = "device read-back answer",
  [6] = "unrecognised answer",
}
local A_STATUS, A_NODEVICE, A_NOTICE, A_DEVSTATUS, A_READBACK, A_UNKNOWN = 1, 2, 3, 4, 5, 6

local commands = {
  [0x85] = "forward SDI message",
  [0x86] = "read from board",
  [0xF3] = "status answer",
  [0xF1] = "interrupt notice",
  [0xF0] = "device status answer",
  [0xFE] = "device read-back answer",
}

local cw_codes = { [0x09] = "read", [0x18] = "load" }

local opcodes = {
  [0x01] = "reset",
  [0x03] = "status request",
  [0x10] = "set serial number",
  [0x11] = "set type",
  [0x12] = "set user text",
  [0x14] = "set SDI address",
  [0x40] = "NCO frequency",
  [0xE0] = "operation",
}

local operations = {
  [0x01] = "test stream on",
  [0x02] = "test stream address",
  [0x03] = "test stream join",
  [0x10] = "general filter",
  [0x11] = "write PID filter entry",
  [0x12] = "erase PID filter",
  [0x14] = "read PID filter",
  [0x15] = "test stream port",
  [0x20] = "set sector",
  [0x21] = "write PSI packet",
  [0x22] = "erase PSI flash",
  [0x25] = "read PSI flash",
  [0x27] = "stream format",
  [0x28] = "PLL",
  [0x30] = "PCR corrector mode",
  [0x31] = "test PCR PID",
}

local readback_kinds = { [1] = "PID filter", [2] = "PSI inserter" }
local device_codes = { [0x1A] = "ASI Remultiplexer" }

-- Data length each instruction and operation carries: exact, or {min, max}.
local opcode_sizes = { [0x01] = 2, [0x03] = 1, [0x10] = 4, [0x11] = 2, [0x12] = 15, [0x14] = 1, [0x40] = 5 }
local operation_sizes = {
  [0x01] = 1, [0x02] = 33, [0x03] = 1, [0x10] = { 2, 5 }, [0x11] = 8, [0x12] = 2, [0x14] = 6, [0x15] = 3,
  [0x20] = 9, [0x21] = { 10, 9 + 204 }, [0x22] = 2, [0x25] = 5, [0x27] = 3, [0x28] = 8, [0x30] = 2, [0x31] = 4,
}
-- Operations whose second data byte is a unit mask.
local unit_mask_ops = {
  [0x11] = true, [0x12] = true, [0x14] = true, [0x20] = true, [0x21] = true, [0x22] = true,
  [0x25] = true, [0x27] = true, [0x28] = true, [0x31] = true,
}
local device_instruction = { [0x01] = true, [0x03] = true, [0x10] = true, [0x11] = true, [0x12] = true,
  [0x14] = true, [0x40] = true, [0xE0] = true }

---------------------------------------------------------------------------
-- Fields

local F = {}
local function field(key, f) F[key] = f end

field("framing", ProtoField.string("tessaly.framing", "Framing"))
field("direction", ProtoField.string("tessaly.direction", "Direction"))
field("answer", ProtoField.uint8("tessaly.answer", "Answer", base.DEC, answer_kinds))
field("magic", ProtoField.string("tessaly.magic", "Magic"))
field("label", ProtoField.string("tessaly.label", "Label"))
field("message_type", ProtoField.uint8("tessaly.message_type", "Message type", base.HEX))
field("command", ProtoField.uint8("tessaly.command", "Command", base.HEX, commands))
field("command_length", ProtoField.uint16("tessaly.command.length", "Command data length", base.DEC))
field("command_data", ProtoField.bytes("tessaly.command.data", "Command data"))
field("cw_code", ProtoField.uint8("tessaly.cwnet.code", "CW-Net command code", base.HEX, cw_codes))
field("cw_word", ProtoField.string("tessaly.cwnet.word", "CW-Net command word"))
field("sdi_address", ProtoField.uint8("tessaly.sdi_address", "SDI address", base.DEC))
field("read_length", ProtoField.uint16("tessaly.read_length", "Bytes to read", base.DEC))
field("sdi_message", ProtoField.bytes("tessaly.sdi_message", "SDI message"))
field("notice_data", ProtoField.bytes("tessaly.notice_data", "Notice content"))
field("trailing", ProtoField.bytes("tessaly.trailing", "Trailing bytes"))
field("response_in", ProtoField.framenum("tessaly.response_in", "Answer in", base.NONE, frametype.RESPONSE))
field("response_to", ProtoField.framenum("tessaly.response_to", "Request in", base.NONE, frametype.REQUEST))
field("time", ProtoField.relative_time("tessaly.time", "Time since request"))

field("instruction", ProtoField.bytes("tessaly.instruction", "Instruction"))
field("opcode", ProtoField.uint8("tessaly.instruction.opcode", "Opcode", base.HEX, opcodes))
field("ilength", ProtoField.uint16("tessaly.instruction.length", "Data length", base.DEC))
field("idata", ProtoField.bytes("tessaly.instruction.data", "Data"))
field("operation", ProtoField.uint8("tessaly.instruction.operation", "Operation", base.HEX, operations))
field("units", ProtoField.uint8("tessaly.instruction.units", "Unit mask", base.HEX))
field("i_serial", ProtoField.uint32("tessaly.instruction.serial", "Serial number", base.DEC))
field("i_type", ProtoField.uint16("tessaly.instruction.type", "Type", base.DEC))
field("i_user_text", ProtoField.string("tessaly.instruction.user_text", "User text"))
field("i_address", ProtoField.uint8("tessaly.instruction.address", "New SDI address", base.DEC))
field("i_reset", ProtoField.bytes("tessaly.instruction.reset", "Reset data"))
field("i_nco", ProtoField.uint8("tessaly.instruction.nco", "NCO number", base.DEC))
field("i_nco_hz", ProtoField.uint32("tessaly.instruction.nco_frequency", "NCO frequency (Hz)", base.DEC))
field("i_request", ProtoField.uint8("tessaly.instruction.request", "Request byte", base.HEX))
field("i_enable", ProtoField.uint8("tessaly.instruction.channel_enable", "Input enable mask", base.HEX))
field("i_dv", ProtoField.uint8("tessaly.instruction.data_valid", "DataValid pin mask", base.HEX))
field("i_null", ProtoField.uint8("tessaly.instruction.null_filter", "Null packet filter mask", base.HEX))
field("i_tsp", ProtoField.uint8("tessaly.instruction.tsp_filter", "TSP error filter mask", base.HEX))
field("i_input", ProtoField.uint16("tessaly.instruction.input", "TS input field", base.DEC))
field("i_pid", ProtoField.uint16("tessaly.instruction.pid", "PID", base.DEC))
field("i_entry", ProtoField.uint16("tessaly.instruction.entry", "Filter entry word", base.HEX))
field("i_start_pid", ProtoField.uint16("tessaly.instruction.start_pid", "Start PID", base.DEC))
field("i_sector_byte", ProtoField.uint8("tessaly.instruction.sector_byte", "Sector byte", base.HEX))
field("i_sector_start", ProtoField.uint24("tessaly.instruction.sector_start", "Sector start", base.DEC))
field("i_sector_end", ProtoField.uint24("tessaly.instruction.sector_end", "Sector end", base.DEC))
field("i_flash", ProtoField.uint24("tessaly.instruction.flash_address", "Flash address", base.DEC))
field("i_timer", ProtoField.uint24("tessaly.instruction.timer", "Timer (ms)", base.DEC))
field("i_auto_cc", ProtoField.uint8("tessaly.instruction.auto_cc", "Auto-CC byte", base.HEX))
field("i_packet", ProtoField.bytes("tessaly.instruction.packet", "TS packet"))
field("i_format", ProtoField.uint8("tessaly.instruction.format", "Stream format byte", base.HEX))
field("i_pdiv", ProtoField.uint16("tessaly.instruction.pdiv", "PLL output divider", base.DEC))
field("i_pll_word", ProtoField.uint32("tessaly.instruction.pll_word", "PLL programming word", base.HEX))
field("i_pll_hz", ProtoField.int32("tessaly.instruction.pll_frequency", "PLL frequency (Hz)", base.DEC))
field("i_mode", ProtoField.uint8("tessaly.instruction.pcr_mode", "PCR corrector mode byte", base.HEX))
field("i_test_pid", ProtoField.uint16("tessaly.instruction.test_pid", "Test PCR PID", base.DEC))
field("i_stream_byte", ProtoField.uint8("tessaly.instruction.stream_byte", "Stream address byte", base.HEX))
field("i_stream_addr", ProtoField.ipv4("tessaly.instruction.stream_address", "Test stream address"))
field("i_stream_name", ProtoField.string("tessaly.instruction.stream_name", "Test stream name"))
field("i_stream_port", ProtoField.uint16("tessaly.instruction.stream_port", "Test stream port", base.DEC))

-- The status block and the device's own status answer.
field("block", ProtoField.bytes("tessaly.status", "Status block"))
field("presence", ProtoField.uint8("tessaly.presence", "Presence byte", base.HEX))
field("device_code", ProtoField.uint8("tessaly.device_code", "Device code", base.HEX, device_codes))
field("user_text", ProtoField.string("tessaly.user_text", "User text"))
field("type", ProtoField.uint16("tessaly.type", "Type", base.DEC))
field("serial", ProtoField.uint32("tessaly.serial", "Serial number", base.DEC))
field("address_byte", ProtoField.uint8("tessaly.address_byte", "Address byte", base.HEX))
field("board_address", ProtoField.uint8("tessaly.board_address", "Board SDI address", base.DEC))
field("jumper", ProtoField.bool("tessaly.jumper", "Address jumper-selected"))
field("instr_counter", ProtoField.uint8("tessaly.instruction_counter", "Instruction packet counter", base.DEC))
field("version", ProtoField.string("tessaly.version", "Version"))
field("version_major", ProtoField.uint8("tessaly.version.major", "Version, whole part", base.DEC))
field("version_minor", ProtoField.uint8("tessaly.version.minor", "Version, hundredths", base.DEC))
field("channel_enable", ProtoField.uint8("tessaly.channel_enable", "Input channel enable mask", base.HEX))
field("data_valid", ProtoField.uint8("tessaly.data_valid", "DataValid pin mask", base.HEX))
field("null_filter", ProtoField.uint8("tessaly.null_filter", "Null packet filter mask", base.HEX))
field("tsp_filter", ProtoField.uint8("tessaly.tsp_filter", "TSP error filter mask", base.HEX))
field("output_format", ProtoField.uint8("tessaly.output_format", "Output format", base.HEX))
field("iic_error", ProtoField.uint8("tessaly.iic_error", "IIC error", base.HEX))
field("nco", ProtoField.uint32("tessaly.nco_frequency", "NCO frequency (Hz)", base.DEC))
field("pdiv", ProtoField.uint16("tessaly.pdiv", "PLL output divider (PDiv)", base.DEC))
field("pll_word", ProtoField.uint32("tessaly.pll_word", "PLL programming word", base.HEX))
field("pll_hz", ProtoField.int32("tessaly.pll_frequency", "PLL frequency (Hz)", base.DEC))
field("pid_state", ProtoField.uint8("tessaly.pid_filter_state", "PID filter state", base.HEX))
field("int_r_error", ProtoField.uint8("tessaly.int_r_error", "Int. R. Er.", base.DEC))
field("readback_kind", ProtoField.uint8("tessaly.readback.kind", "Read-back kind", base.DEC, readback_kinds))
field("leds", ProtoField.uint8("tessaly.leds", "LED and overflow flags", base.HEX))
field("psi_state", ProtoField.uint8("tessaly.psi.state", "PSI inserter state", base.HEX))
field("pcr_state", ProtoField.uint8("tessaly.pcr.state", "PCR corrector state", base.HEX))
field("test_pid", ProtoField.uint16("tessaly.test_pid", "Test PCR PID", base.DEC))
field("mpx_version", ProtoField.uint8("tessaly.mpx_version", "Xilinx (MPX) version", base.DEC))
field("spp_version", ProtoField.uint8("tessaly.spp_version", "Xilinx (SPP) version", base.DEC))
field("model", ProtoField.uint8("tessaly.model", "Model", base.DEC))
field("input", ProtoField.uint8("tessaly.input", "Input", base.DEC))
field("input_word", ProtoField.uint32("tessaly.input.status", "Input status word", base.HEX))
field("input_packets", ProtoField.uint32("tessaly.input.packets", "Input packets / sec", base.DEC))
field("input_rate", ProtoField.int32("tessaly.input.rate", "Data rate (kbps)", base.DEC))
field("input_size", ProtoField.uint8("tessaly.input.packet_size", "Packet size", base.DEC))
field("input_overflow", ProtoField.bool("tessaly.input.overflow", "Overflow"))
field("input_sync", ProtoField.uint8("tessaly.input.sync_errors", "Syncron Error", base.DEC))
field("sdram_input", ProtoField.uint24("tessaly.sdram.input_rate", "SDRAM input (packet/sec)", base.DEC))
field("sdram_word", ProtoField.uint24("tessaly.sdram.word", "SDRAM word", base.HEX))
field("sdram_usage", ProtoField.uint16("tessaly.sdram.usage", "SDRAM usage (packets)", base.DEC))
field("sdram_overflow", ProtoField.bool("tessaly.sdram.overflow", "SDRAM overflow"))
field("pcr_pause", ProtoField.bool("tessaly.sdram.pcr_pause", "PCR pause"))
field("null_rate", ProtoField.uint24("tessaly.sdram.null_rate", "Output null packets (packet/sec)", base.DEC))
field("inserted_rate", ProtoField.uint24("tessaly.psi.inserted_rate", "Inserted packets (packet/sec)", base.DEC))
field("pcr_discont", ProtoField.uint8("tessaly.pcr.discontinuity", "PCR discont. counter", base.DEC))
field("pcr_pids", ProtoField.uint16("tessaly.pcr.pid_count", "Number of PCRPIDs", base.DEC))
field("pcr_base_error", ProtoField.uint16("tessaly.pcr.base_error", "PCR base error word", base.HEX))
field("pcr_slide", ProtoField.uint16("tessaly.pcr.slide", "PCR slide (raw)", base.DEC))
field("pcr_slide_value", ProtoField.int32("tessaly.pcr.slide_value", "PCR slide", base.DEC))
field("large_pcr", ProtoField.uint8("tessaly.pcr.large_errors", "Large PCR errors", base.DEC))
field("new_pcr_pids", ProtoField.uint8("tessaly.pcr.new_pids", "New PCRPID counter", base.DEC))
field("sector", ProtoField.uint8("tessaly.sector", "Sector", base.DEC))
field("sector_enabled", ProtoField.bool("tessaly.sector.enabled", "Enabled"))
field("sector_start", ProtoField.uint32("tessaly.sector.start", "Start", base.DEC))
field("sector_end", ProtoField.uint32("tessaly.sector.end", "End", base.DEC))
field("readback", ProtoField.bytes("tessaly.readback.data", "Read-back data"))
field("rb_unit", ProtoField.uint8("tessaly.readback.unit", "Unit", base.DEC))
field("rb_input", ProtoField.uint16("tessaly.readback.input", "TS input field", base.DEC))
field("rb_start", ProtoField.uint24("tessaly.readback.start", "Start (PID or flash address)", base.DEC))
field("rb_timer", ProtoField.uint24("tessaly.readback.timer", "PSI timer (ms)", base.DEC))
field("rb_auto_cc", ProtoField.uint8("tessaly.readback.auto_cc", "PSI auto-CC byte", base.HEX))
field("unit", ProtoField.uint8("tessaly.unit", "Unit", base.DEC))
field("unit_nco", ProtoField.uint32("tessaly.unit.nco_frequency", "NCO frequency (Hz)", base.DEC))
field("unit_format", ProtoField.uint8("tessaly.unit.format", "Stream format byte", base.HEX))
field("unit_pdiv", ProtoField.uint16("tessaly.unit.pdiv", "PLL output divider", base.DEC))
field("unit_pll_word", ProtoField.uint32("tessaly.unit.pll_word", "PLL programming word", base.HEX))
field("unit_test_pid", ProtoField.uint16("tessaly.unit.test_pid", "Test PCR PID", base.DEC))
field("unit_pid_entries", ProtoField.uint16("tessaly.unit.pid_entries", "PID filter entries", base.DEC))
field("unit_pid_erasing", ProtoField.bool("tessaly.unit.pid_erasing", "PID filter erase running"))
field("unit_psi_erasing", ProtoField.bool("tessaly.unit.psi_erasing", "PSI inserter erase running"))
field("pid_erase_bits", ProtoField.uint8("tessaly.pid_erase_bits", "PID filter erase bits", base.HEX))
field("pcr_mode", ProtoField.uint8("tessaly.pcr.mode", "PCR corrector mode", base.HEX))
field("stream_addr", ProtoField.ipv4("tessaly.stream.address", "Test stream address"))
field("stream_port", ProtoField.uint16("tessaly.stream.port", "Test stream port", base.DEC))
field("stream_name", ProtoField.string("tessaly.stream.name", "Test stream name"))
field("stream_flags", ProtoField.uint8("tessaly.stream.flags", "Test stream flags (1 on, 2 joined)", base.HEX))

do
  local list = {}
  for _, f in pairs(F) do list[#list + 1] = f end
  p.fields = list
end

local E = {
  malformed = ProtoExpert.new("tessaly.malformed", "Malformed datagram", expert.group.MALFORMED, expert.severity.ERROR),
  unexpected = ProtoExpert.new("tessaly.unexpected", "Unexpected value", expert.group.PROTOCOL, expert.severity.WARN),
  undecoded = ProtoExpert.new("tessaly.unrecognised", "Unrecognised datagram", expert.group.UNDECODED,
    expert.severity.NOTE),
  no_answer = ProtoExpert.new("tessaly.no_answer", "Request without an answer", expert.group.SEQUENCE,
    expert.severity.WARN),
  no_device = ProtoExpert.new("tessaly.no_device", "No device on the SDI", expert.group.RESPONSE_CODE,
    expert.severity.WARN),
  not_remux = ProtoExpert.new("tessaly.not_remux", "Not an ASI Remultiplexer", expert.group.RESPONSE_CODE,
    expert.severity.WARN),
}
p.experts = { E.malformed, E.unexpected, E.undecoded, E.no_answer, E.no_device, E.not_remux }

p.prefs.port = Pref.uint("UDP port", DEFAULT_PORT, "The device's UDP port (both framings and the manufacturer test)")

---------------------------------------------------------------------------
-- Safe access: nothing is read unless the captured bytes hold it.

local function has(tvb, off, n) return off >= 0 and n > 0 and off + n <= tvb:len() end
local function r(tvb, off, n) if has(tvb, off, n) then return tvb:range(off, n) end end
local function u(tvb, off, n) if has(tvb, off, n) then return tvb:range(off, n):uint() end end
local function raw(tvb, off, n) if has(tvb, off, n) then return tvb:range(off, n):raw() end end

local function malformed(tree, tvb, off, n, text)
  local rr = r(tvb, off, n)
  if rr then tree:add_tvb_expert_info(E.malformed, rr, text) else tree:add_proto_expert_info(E.malformed, text) end
end

-- Adds a field over [off, off+n) with the range's own value (or `value`).
local function add(tree, f, tvb, off, n, value)
  local rr = r(tvb, off, n)
  if not rr then return nil end
  if value ~= nil then return tree:add(f, rr, value) end
  return tree:add(f, rr)
end

-- A text field of 8-bit characters: the board and the panel use Latin-1.
local function add_text(tree, f, tvb, off, n)
  local rr = r(tvb, off, n)
  if not rr then return nil end
  return tree:add(f, rr, rr:string(ENC_ISO_8859_1))
end

local function printable(s)
  return (s:gsub("[^\32-\126]", "."))
end

---------------------------------------------------------------------------
-- PLL frequency from the divider and the programming word (reference 27 MHz).

local function pll_frequency(pdiv, word)
  local PDiv = pdiv % 1024
  local N, R, Q, P = bits(word, 20, 12), bits(word, 11, 9), bits(word, 5, 6), bits(word, 2, 3)
  if N == 0 or Q == 0 or PDiv == 0 then return 0 end
  local M = idiv(N * 2 ^ P - R, Q)
  if M <= 0 then return 0 end
  local f = idiv(27000000 * N, M * PDiv) % 2 ^ 32
  if f >= 2 ^ 31 then f = f - 2 ^ 32 end
  return f
end

---------------------------------------------------------------------------
-- Instructions (board instructions, inside an SDI message or a device message)

local function size_ok(expect, n)
  if type(expect) == "table" then return n >= expect[1] and n <= expect[2] end
  return expect == nil or n == expect
end

local function size_text(expect)
  if type(expect) == "table" then return expect[1] .. " to " .. expect[2] end
  return tostring(expect)
end

local function dissect_operation(tvb, d, n, t)
  -- d: offset of the instruction's data, n: its length (all of it is captured).
  local op = u(tvb, d, 1)
  add(t, F.operation, tvb, d, 1)
  local name = operations[op] or ("operation " .. hex2(op))
  if not size_ok(operation_sizes[op], n) then
    t:add_proto_expert_info(E.unexpected, string.format("%s carries %d data bytes, expected %s", name, n,
      size_text(operation_sizes[op])))
  end
  local function at(i, k, f, value) if i + k <= n then return add(t, f, tvb, d + i, k, value) end end
  -- The TS input is sent as its index, 0 for TS1 to 5 for TS6 (tessaly.input is
  -- its number); the manufacturer test puts its test port in the same field.
  local function ts_input(item)
    local v = u(tvb, d + 2, 2)
    if item and v and v <= 5 then
      item:append_text(string.format(" (TS%d)", v + 1))
      t:add(F.input, r(tvb, d + 2, 2), v + 1):set_generated()
    end
  end
  if unit_mask_ops[op] then at(1, 1, F.units) end
  if op == 0x10 then
    at(1, 1, F.i_enable); at(2, 1, F.i_dv); at(3, 1, F.i_null); at(4, 1, F.i_tsp)
  elseif op == 0x11 then
    ts_input(at(2, 2, F.i_input)); at(4, 2, F.i_pid); at(6, 2, F.i_entry)
  elseif op == 0x14 then
    ts_input(at(2, 2, F.i_input)); at(4, 2, F.i_start_pid)
  elseif op == 0x20 then
    local sb = at(2, 1, F.i_sector_byte)
    if sb and 3 <= n then
      local v = u(tvb, d + 2, 1)
      sb:append_text(string.format(" (sector %d, %s)", v % 16, bit(v, 7) and "enabled" or "disabled"))
    end
    at(3, 3, F.i_sector_start); at(6, 3, F.i_sector_end)
  elseif op == 0x21 then
    at(2, 3, F.i_flash); at(5, 3, F.i_timer); at(8, 1, F.i_auto_cc)
    if n > 9 then at(9, n - 9, F.i_packet) end
  elseif op == 0x25 then
    at(2, 3, F.i_flash)
  elseif op == 0x27 then
    local it = at(2, 1, F.i_format)
    if it then
      local v = u(tvb, d + 2, 1)
      it:append_text(string.format(" (%s-byte packets, clock select %d)", bit(v, 7) and "188" or "204", v % 128))
    end
  elseif op == 0x28 then
    if 4 <= n then at(2, 2, F.i_pdiv, u(tvb, d + 2, 2) % 1024) end
    at(4, 4, F.i_pll_word)
    if 8 <= n then
      local it = t:add(F.i_pll_hz, pll_frequency(u(tvb, d + 2, 2), u(tvb, d + 4, 4)))
      it:set_generated()
    end
  elseif op == 0x30 then
    at(1, 1, F.i_mode)
  elseif op == 0x31 then
    if 4 <= n then at(2, 2, F.i_test_pid, u(tvb, d + 2, 2) % 8192) end
  elseif op == 0x02 then
    at(1, 1, F.i_stream_byte)
    at(14, 4, F.i_stream_addr)
    at(20, 13, F.i_stream_name)
  elseif op == 0x15 then
    at(1, 2, F.i_stream_port)
  end
  return name
end

-- One instruction at `off`; returns the offset after it (nil when it overruns)
-- and a short description.
local function dissect_instruction(tvb, off, limit, tree, index)
  local left = limit - off
  if left < 3 then
    local t = tree:add(F.instruction, r(tvb, off, left))
    t:set_text(string.format("Instruction %d: truncated head", index))
    malformed(t, tvb, off, left, string.format("instruction head needs 3 bytes, %d left", left))
    return nil, "truncated"
  end
  local code, n = u(tvb, off, 1), u(tvb, off + 1, 2)
  local whole = math.min(3 + n, left)
  local name = opcodes[code] or ("instruction " .. hex2(code))
  local t = tree:add(F.instruction, r(tvb, off, whole))
  t:set_text(string.format("Instruction %d: %s (%s), %d data bytes", index, name, hex2(code), n))
  add(t, F.opcode, tvb, off, 1)
  local lit = add(t, F.ilength, tvb, off + 1, 2)
  if 3 + n > left then
    malformed(lit, tvb, off + 1, 2, string.format("data length %d overruns the message: %d bytes left", n, left - 3))
    if left > 3 then add(t, F.idata, tvb, off + 3, left - 3) end
    return nil, name
  end
  local d = off + 3
  if n > 0 then add(t, F.idata, tvb, d, n) end
  if code == 0xE0 then
    if n >= 1 then
      name = dissect_operation(tvb, d, n, t)
      t:set_text(string.format("Instruction %d: operation %s (%s), %d data bytes", index, name,
        hex2(u(tvb, d, 1)), n))
    else
      t:add_proto_expert_info(E.unexpected, "operation without an operation code")
    end
    return off + 3 + n, name
  end
  if not size_ok(opcode_sizes[code], n) then
    if opcode_sizes[code] then
      t:add_proto_expert_info(E.unexpected, string.format("%s carries %d data bytes, expected %s", name, n,
        size_text(opcode_sizes[code])))
    end
    return off + 3 + n, name
  end
  if code == 0x10 then
    add(t, F.i_serial, tvb, d, 4)
  elseif code == 0x11 then
    add(t, F.i_type, tvb, d, 2)
  elseif code == 0x12 then
    add_text(t, F.i_user_text, tvb, d, 15)
  elseif code == 0x14 then
    add(t, F.i_address, tvb, d, 1)
  elseif code == 0x01 then
    add(t, F.i_reset, tvb, d, 2)
  elseif code == 0x40 then
    add(t, F.i_nco, tvb, d, 1); add(t, F.i_nco_hz, tvb, d + 1, 4)
  elseif code == 0x03 then
    add(t, F.i_request, tvb, d, 1)
  end
  return off + 3 + n, name
end

local function dissect_instructions(tvb, off, limit, tree)
  local names, index = {}, 1
  if off >= limit then
    tree:add_proto_expert_info(E.unexpected, "message without instructions")
  end
  while off and off < limit do
    local name
    off, name = dissect_instruction(tvb, off, limit, tree, index)
    names[#names + 1] = name
    index = index + 1
  end
  return names
end

local function summary(names)
  local out = {}
  for i, name in ipairs(names) do
    if i > 6 then
      out[#out + 1] = string.format("… (%d in all)", #names)
      break
    end
    out[#out + 1] = name
  end
  return table.concat(out, ", ")
end

-- A DDToIP message head ("DDToIP", label, type) at `off`; false when too short.
local function dissect_head(tvb, off, limit, tree)
  local left = limit - off
  if left < 22 then
    malformed(tree, tvb, off, left, string.format("DDToIP head needs 22 bytes, %d present", left))
    return false
  end
  local m = add(tree, F.magic, tvb, off, 6)
  if raw(tvb, off, 6) ~= "DDToIP" then m:add_proto_expert_info(E.unexpected, "magic is not \"DDToIP\"") end
  add_text(tree, F.label, tvb, off + 6, 15)
  local ty = add(tree, F.message_type, tvb, off + 21, 1)
  if u(tvb, off + 21, 1) ~= 0x01 then ty:add_proto_expert_info(E.unexpected, "message type is not 0x01") end
  return true
end

-- The SDI message a load or forward carries: its head and board instructions.
local function dissect_sdi_message(tvb, off, limit, tree)
  local left = limit - off
  if left <= 0 then
    tree:add_proto_expert_info(E.malformed, "no SDI message")
    return "no SDI message"
  end
  local t = tree:add(F.sdi_message, r(tvb, off, left))
  t:set_text(string.format("SDI message (%d bytes)", left))
  if not dissect_head(tvb, off, limit, t) then return "malformed SDI message" end
  local label = printable(raw(tvb, off + 6, 15))
  return "'" .. label .. "': " .. summary(dissect_instructions(tvb, off + 22, limit, t))
end

---------------------------------------------------------------------------
-- Status block (1024 bytes at `b`)

local function dissect_inputs(tvb, at, t, info)
  -- Six input status words from `at`.
  for i = 1, 6 do
    local o = at + 4 * (i - 1)
    local w = u(tvb, o, 4)
    if not w then return end
    local packets = w % 2 ^ 20
    local big = bit(w, 23)
    local rate = idiv(packets * (big and 1504 or 1632), 1000)
    local it = t:add(F.input, r(tvb, o, 4), i)
    it:set_text(string.format("Input %d: %d packets/sec, %d kbps, %s", i, packets, rate, big and "188" or "204"))
    it:add(F.input_word, r(tvb, o, 4))
    it:add(F.input_packets, r(tvb, o, 4), packets)
    it:add(F.input_rate, r(tvb, o, 4), rate):set_generated()
    it:add(F.input_size, r(tvb, o, 4), big and 188 or 204)
    it:add(F.input_overflow, r(tvb, o, 4), bit(w, 22))
    it:add(F.input_sync, r(tvb, o, 1), bits(w, 24, 8))
  end
end

local function dissect_sdram_psi(tvb, at, t)
  -- SDRAM input rate, SDRAM word, null rate, inserted rate: 3 bytes each from `at`.
  if not has(tvb, at, 12) then return end
  local s = t:add(r(tvb, at, 9), "SDRAM")
  s:add(F.sdram_input, r(tvb, at, 3), u(tvb, at, 3) % 2 ^ 20)
  local w = u(tvb, at + 3, 3)
  s:add(F.sdram_word, r(tvb, at + 3, 3))
  s:add(F.sdram_usage, r(tvb, at + 4, 2), w % 65536)
  s:add(F.sdram_overflow, r(tvb, at + 3, 3), bit(w, 22))
  s:add(F.pcr_pause, r(tvb, at + 3, 3), bit(w, 21))
  s:add(F.null_rate, r(tvb, at + 6, 3), u(tvb, at + 6, 3) % 2 ^ 20)
  local psi = t:add(F.inserted_rate, r(tvb, at + 9, 3), u(tvb, at + 9, 3) % 2 ^ 20)
  psi:prepend_text("PSI inserter: ")
end

local function dissect_block(tvb, b, tree, info)
  local t = tree:add(F.block, r(tvb, b, 1024))
  t:set_text("Status block (1024 bytes)")
  add(t, F.presence, tvb, b, 1)
  add(t, F.device_code, tvb, b + 1, 1)
  if u(tvb, b + 1, 1) ~= 0x1A then
    t:add_proto_expert_info(E.not_remux, string.format(
      "There is no ASI Remultiplexer connected to the SDI (device code %s): the rest of the block is not decoded",
      hex2(u(tvb, b + 1, 1))))
    return
  end
  add_text(t, F.user_text, tvb, b + 2, 15)
  add(t, F.type, tvb, b + 24, 2)
  add(t, F.serial, tvb, b + 26, 4)
  info.serial = u(tvb, b + 26, 4)
  local ab = u(tvb, b + 30, 1)
  local a = add(t, F.address_byte, tvb, b + 30, 1)
  a:add(F.board_address, r(tvb, b + 30, 1), ab % 16)
  a:add(F.jumper, r(tvb, b + 30, 1), bit(ab, 4))
  info.board_address = ab % 16
  add(t, F.instr_counter, tvb, b + 31, 1)
  local major, minor = u(tvb, b + 32, 1), u(tvb, b + 33, 1)
  local version = string.format("%d.%02d", major, minor % 100)
  local v = t:add(F.version, r(tvb, b + 32, 2), version)
  v:add(F.version_major, r(tvb, b + 32, 1))
  v:add(F.version_minor, r(tvb, b + 33, 1))
  add(t, F.channel_enable, tvb, b + 34, 1)
  add(t, F.data_valid, tvb, b + 35, 1)
  add(t, F.null_filter, tvb, b + 36, 1)
  add(t, F.tsp_filter, tvb, b + 37, 1)
  local of = u(tvb, b + 38, 1)
  local clock = of % 128
  local source = clock == 1 and "PLL" or (clock >= 2 and clock <= 7) and ("TS Input " .. (clock - 1) .. " Clock")
      or clock == 8 and "External Clock Source" or "NCO"
  add(t, F.output_format, tvb, b + 38, 1):append_text(string.format(" (Output Format: %s, Clock Select: %d, %s)",
    bit(of, 7) and "188" or "204", clock, source))
  add(t, F.iic_error, tvb, b + 39, 1)
  add(t, F.nco, tvb, b + 40, 4)
  local pdiv, word = u(tvb, b + 44, 2) % 1024, u(tvb, b + 46, 4)
  add(t, F.pdiv, tvb, b + 44, 2, pdiv)
  add(t, F.pll_word, tvb, b + 46, 4)
  t:add(F.pll_hz, r(tvb, b + 44, 6), pll_frequency(pdiv, word)):set_generated()
  local ps = u(tvb, b + 50, 1)
  add(t, F.pid_state, tvb, b + 50, 1):append_text(bit(ps, 0) and " (Flash is busy.)" or " (Flash is free.)")
  add(t, F.int_r_error, tvb, b + 51, 1)
  add(t, F.readback_kind, tvb, b + 52, 1)
  local leds, on = u(tvb, b + 53, 1), {}
  for _, led in ipairs({ { 0, "TS Input Overflow" }, { 1, "SDRAM Overflow" }, { 2, "PSI Overflow" }, { 3, "Stream" },
    { 7, "Power On" } }) do
    if bit(leds, led[1]) then on[#on + 1] = led[2] end
  end
  add(t, F.leds, tvb, b + 53, 1):append_text(#on > 0 and (" (LEDs on: " .. table.concat(on, ", ") .. ")") or "")
  local psi = u(tvb, b + 54, 1)
  add(t, F.psi_state, tvb, b + 54, 1):append_text(bit(psi, 0) and " (Flash is busy.)" or " (Flash is free.)")
  local pcr = u(tvb, b + 55, 1)
  add(t, F.pcr_state, tvb, b + 55, 1):append_text(string.format(" (PCR Corrector: %s, Direct PCR Restamping: %s)",
    bit(pcr, 0) and "On" or "Off", bit(pcr, 4) and "On" or "Off"))
  add(t, F.test_pid, tvb, b + 56, 2, u(tvb, b + 56, 2) % 8192)
  add(t, F.mpx_version, tvb, b + 58, 1)
  add(t, F.spp_version, tvb, b + 59, 1)
  add(t, F.model, tvb, b + 60, 1)
  dissect_inputs(tvb, b + 96, t)
  dissect_sdram_psi(tvb, b + 120, t)

  local c = t:add(r(tvb, b + 132, 9), "PCR corrector figures")
  add(c, F.pcr_discont, tvb, b + 132, 1)
  add(c, F.pcr_pids, tvb, b + 133, 2, u(tvb, b + 133, 2) % 8192)
  local be = u(tvb, b + 135, 2)
  add(c, F.pcr_base_error, tvb, b + 135, 2):append_text(string.format(" (PCR Base Error: %d (%.3f ms), Gradient: %s)",
    be % 32768, (be % 32768) / 90.0, bit(be, 15) and "+" or "-"))
  local slide = u(tvb, b + 137, 2) - 32768
  add(c, F.pcr_slide, tvb, b + 137, 2):append_text(string.format(" (Slide: %d (%d Hz), COR @ 40 ms: %d)", slide,
    idiv(slide, 13), idiv(slide, 291)))
  c:add(F.pcr_slide_value, r(tvb, b + 137, 2), slide):set_generated()
  add(c, F.large_pcr, tvb, b + 139, 1)
  add(c, F.new_pcr_pids, tvb, b + 140, 1)

  for k = 1, 12 do
    local o = b + 160 + 5 * (k - 1)
    local flags, s, e = u(tvb, o, 1), u(tvb, o + 1, 2), u(tvb, o + 3, 2)
    if bit(flags, 1) then s = s + 65536 end
    if bit(flags, 0) then e = e + 65536 end
    local st = t:add(F.sector, r(tvb, o, 5), k)
    st:set_text(string.format("Sector %d: %s, start %d, end %d", k, bit(flags, 7) and "enabled" or "disabled", s, e))
    st:add(F.sector_enabled, r(tvb, o, 1), bit(flags, 7))
    st:add(F.sector_start, r(tvb, o + 1, 2), s)
    st:add(F.sector_end, r(tvb, o + 3, 2), e)
  end
  add(t, F.readback, tvb, b + 768, 256)
end

---------------------------------------------------------------------------
-- The device's own answers (1046-byte status, 297-byte read-back)

local function dissect_device_status(tvb, tree, info)
  local t = tree:add(F.block, r(tvb, 25, tvb:len() - 25))
  t:set_text("Device status")
  add(t, F.presence, tvb, 25, 1)
  local dc = add(t, F.device_code, tvb, 26, 1)
  if u(tvb, 26, 1) ~= 0x1A then
    dc:add_proto_expert_info(E.not_remux, string.format("not an ASI Remultiplexer (device code %s)", hex2(u(tvb, 26, 1))))
  end
  add(t, F.type, tvb, 27, 2)
  add(t, F.serial, tvb, 29, 4)
  info.serial = u(tvb, 29, 4)
  local ab = u(tvb, 33, 1)
  local a = add(t, F.address_byte, tvb, 33, 1)
  a:add(F.board_address, r(tvb, 33, 1), ab % 16)
  a:add(F.jumper, r(tvb, 33, 1), bit(ab, 4))
  add(t, F.instr_counter, tvb, 34, 1)
  local v = t:add(F.version, r(tvb, 35, 2), string.format("%d.%02d", u(tvb, 35, 1), u(tvb, 36, 1) % 100))
  v:add(F.version_major, r(tvb, 35, 1))
  v:add(F.version_minor, r(tvb, 36, 1))
  add(t, F.mpx_version, tvb, 37, 1)
  add(t, F.spp_version, tvb, 38, 1)
  add(t, F.model, tvb, 39, 1)
  add(t, F.int_r_error, tvb, 40, 1)
  add(t, F.iic_error, tvb, 41, 1)
  add(t, F.stream_addr, tvb, 54, 4)
  add(t, F.stream_port, tvb, 58, 2)
  add(t, F.stream_name, tvb, 60, 13)
  add(t, F.stream_flags, tvb, 73, 1)
  add(t, F.channel_enable, tvb, 74, 1)
  add(t, F.data_valid, tvb, 75, 1)
  add(t, F.null_filter, tvb, 76, 1)
  add(t, F.tsp_filter, tvb, 77, 1)
  add(t, F.pcr_mode, tvb, 78, 1)
  dissect_inputs(tvb, 96, t)
  dissect_sdram_psi(tvb, 120, t)
  local erase = u(tvb, 544, 1)
  add(t, F.pid_erase_bits, tvb, 544, 1)
  for n = 0, 3 do
    local ut = t:add(F.unit, r(tvb, 389 + 4 * n, 4), n + 1)
    add(ut, F.unit_nco, tvb, 389 + 4 * n, 4)
    add(ut, F.unit_format, tvb, 405 + n, 1)
    add(ut, F.unit_pdiv, tvb, 409 + 6 * n, 2)
    add(ut, F.unit_pll_word, tvb, 411 + 6 * n, 4)
    add(ut, F.unit_test_pid, tvb, 433 + 2 * n, 2)
    ut:add(F.unit_pid_erasing, r(tvb, 544, 1), bit(erase, n))
    add(ut, F.unit_pid_entries, tvb, 545 + 2 * n, 2)
    local psi = 583 + 23 * n
    add(ut, F.unit_psi_erasing, tvb, psi, 1, bit(u(tvb, psi, 1), 0))
  end
end

local function dissect_device_readback(tvb, tree, info)
  local t = tree:add(F.readback, r(tvb, 25, tvb:len() - 25))
  t:set_text("Device read-back")
  local kind = u(tvb, 25, 1)
  add(t, F.readback_kind, tvb, 25, 1)
  add(t, F.rb_unit, tvb, 26, 1)
  local rbi = add(t, F.rb_input, tvb, 27, 2)
  if rbi and kind == 1 and u(tvb, 27, 2) <= 5 then t:add(F.input, r(tvb, 27, 2), u(tvb, 27, 2) + 1):set_generated() end
  add(t, F.rb_start, tvb, 29, 3)
  if kind == 2 then
    add(t, F.rb_timer, tvb, 41, 3)
    add(t, F.rb_auto_cc, tvb, 44, 1)
  end
  add(t, F.readback, tvb, 41, 256)
  info.readback = string.format("%s, unit %d", readback_kinds[kind] or ("kind " .. kind), u(tvb, 26, 1))
end

---------------------------------------------------------------------------
-- Classification by content: what the datagram is and which way it goes.

-- Returns framing (1, 2 or nil), direction ("request", "answer" or nil) and a kind.
local function classify(tvb)
  local len = tvb:len()
  local magic = raw(tvb, 0, 6)
  if magic == "CW-Net" and len >= 8 then
    local code, word = u(tvb, 6, 1), raw(tvb, 8, 10)
    if code == 0x09 and len == 18 and word == "Read Data " then return 2, "request", "read" end
    if code == 0x18 and len >= 18 and word == "SLoad Data" then return 2, "request", "load" end
    if code == 0x09 and len == 1032 then return 2, "answer", u(tvb, 8, 1) == 0x45 and A_STATUS or A_NODEVICE end
    if len <= 26 then return 2, "answer", A_NOTICE end
    return 2, nil, nil
  end
  if magic == "DDToIP" and len >= 25 then
    local code = u(tvb, 22, 1)
    if code == 0x86 then return 1, "request", "read" end
    if code == 0x85 then return 1, "request", "forward" end
    if code == 0xF3 and len == 1049 then return 1, "answer", u(tvb, 25, 1) == 0x45 and A_STATUS or A_NODEVICE end
    if code == 0xF0 and len == 1046 then return 1, "answer", A_DEVSTATUS end
    if code == 0xFE and len == 297 then return 1, "answer", A_READBACK end
    if device_instruction[code] then return 1, "request", "device" end
    if len <= 26 then return 1, "answer", A_NOTICE end
    return 1, nil, nil
  end
  if magic == "DDToIP" then return 1, nil, nil end
  if magic == "CW-Net" then return 2, nil, nil end
  return nil, nil, nil
end

-- Which side has the device port, when exactly one side has it.
local function port_direction(pinfo)
  local port = p.prefs.port
  local to, from = pinfo.dst_port == port, pinfo.src_port == port
  if to and not from then return "request" end
  if from and not to then return "answer" end
  return nil
end

-- Clearly this protocol: a known magic and a form that fits it.
local function recognised(tvb)
  local framing, direction, kind = classify(tvb)
  if not direction then return false end
  if framing == 1 and kind ~= A_NOTICE then
    -- the first instruction's head and data fit, and the message type is 0x01
    local n = u(tvb, 23, 2)
    return u(tvb, 21, 1) == 0x01 and n ~= nil and 25 + n <= tvb:len()
  end
  return true
end

---------------------------------------------------------------------------
-- Requests and answers: an answer belongs to the last request sent before it
-- between the same two endpoints in the same framing (an interrupt notice without
-- a magic, to the last in either). The first pass in frame order fills the tables;
-- later passes (Wireshark's, or tshark -2) also show the request its answer.

local track
local function forget() track = { last = {}, requests = {}, answers = {} } end
forget()
p.init = forget

local function no_device(tree, tvb, b)
  local pr = add(tree, F.presence, tvb, b, 1)
  add(tree, F.device_code, tvb, b + 1, 1)
  local text = "There is no device connected to the SDI."
  if pr then pr:add_proto_expert_info(E.no_device, text) else tree:add_proto_expert_info(E.no_device, text) end
end

-- A read asks for a status answer and a load for an interrupt notice; the
-- device's own port answers only a status request and the read-backs.
local function expects_answer(tvb, kind)
  if kind ~= "device" then return true end
  local off, len = 22, tvb:len()
  while off + 3 <= len do
    local code, n = u(tvb, off, 1), u(tvb, off + 1, 2)
    if code == 0x03 then return true end
    if code == 0xE0 and n >= 1 and off + 3 < len then
      local op = u(tvb, off + 3, 1)
      if op == 0x14 or op == 0x25 then return true end
    end
    off = off + 3 + n
  end
  return false
end

local function nstime(seconds)
  local s = math.floor(seconds)
  local ns = math.floor((seconds - s) * 1e9 + 0.5)
  if ns >= 1000000000 then s, ns = s + 1, ns - 1000000000 end
  return NSTime.new(s, ns)
end

local function track_exchange(tvb, pinfo, tree, framing, direction, kind)
  local fn = pinfo.number
  local here = tostring(pinfo.src) .. ":" .. pinfo.src_port
  local there = tostring(pinfo.dst) .. ":" .. pinfo.dst_port
  if not pinfo.visited then
    if direction == "request" and framing then
      track.requests[fn] = { time = pinfo.abs_ts, expects = expects_answer(tvb, kind) }
      track.last[here .. ">" .. there .. "|" .. framing] = fn
    elseif direction == "answer" then
      local key = there .. ">" .. here .. "|"
      local req
      if framing then
        req = track.last[key .. framing]
      else
        local a, b = track.last[key .. 1], track.last[key .. 2]
        req = (a and b) and math.max(a, b) or a or b
      end
      if req then
        track.answers[fn] = req
        local rq = track.requests[req]
        if not rq.answer then rq.answer = fn end
      end
    end
  end
  if direction == "request" then
    local rq = track.requests[fn]
    if rq and rq.answer then
      tree:add(F.response_in, rq.answer):set_generated()
    elseif rq and rq.expects and pinfo.visited then
      tree:add_proto_expert_info(E.no_answer, "no answer seen")
    end
  elseif direction == "answer" then
    local req = track.answers[fn]
    if req then
      tree:add(F.response_to, req):set_generated()
      tree:add(F.time, nstime(pinfo.abs_ts - track.requests[req].time)):set_generated()
    end
  end
end

---------------------------------------------------------------------------
-- The datagram

local function dissect(tvb, pinfo, root)
  local len = tvb:len()
  pinfo.cols.protocol = "Tessaly"
  local tree = len > 0 and root:add(p, tvb:range(0, len)) or root:add(p)
  local framing, direction, kind = classify(tvb)
  local pdir = port_direction(pinfo)
  -- Answers of 26 bytes or fewer are interrupt notices, whatever their bytes.
  if pdir == "answer" and len <= 26 then direction, kind = "answer", A_NOTICE end
  if not direction then direction = pdir end

  if framing then tree:add(F.framing, tvb:range(0, math.min(6, len)), framings[framing]) end
  if direction then tree:add(F.direction, direction):set_generated() end
  local fname = framing and framings[framing] or "Tessaly"
  local info = {}
  local text

  if direction == "answer" then
    tree:add(F.answer, kind or A_UNKNOWN):set_generated()
  end
  track_exchange(tvb, pinfo, tree, framing, direction, kind)

  if kind == A_NOTICE then
    local sdi
    if framing == 2 and len >= 8 then
      add(tree, F.magic, tvb, 0, 6); add(tree, F.cw_code, tvb, 6, 1)
      add(tree, F.sdi_address, tvb, 7, 1); sdi = u(tvb, 7, 1)
      if len > 8 then add(tree, F.notice_data, tvb, 8, len - 8) end
    elseif framing == 1 and len >= 25 then
      dissect_head(tvb, 0, len, tree)
      add(tree, F.command, tvb, 22, 1); add(tree, F.command_length, tvb, 23, 2)
      if u(tvb, 22, 1) == 0xF1 and len >= 26 then add(tree, F.sdi_address, tvb, 25, 1); sdi = u(tvb, 25, 1) end
    else
      add(tree, F.notice_data, tvb, 0, len)
    end
    text = (framing and fname .. " " or "") .. "interrupt notice" .. (sdi and (" SDI " .. sdi) or "")
  elseif framing == 2 and (kind == "read" or kind == "load" or kind == A_STATUS or kind == A_NODEVICE) then
    local h = tree:add(r(tvb, 0, 18) or r(tvb, 0, 8), "CW-Net head")
    add(h, F.magic, tvb, 0, 6)
    add(h, F.cw_code, tvb, 6, 1)
    add(h, F.sdi_address, tvb, 7, 1)
    local sdi = u(tvb, 7, 1)
    if kind == "read" then
      add(h, F.cw_word, tvb, 8, 10)
      text = "CW-Net read SDI " .. sdi
    elseif kind == "load" then
      add(h, F.cw_word, tvb, 8, 10)
      text = "CW-Net load SDI " .. sdi .. " " .. dissect_sdi_message(tvb, 18, len, tree)
    else
      local present = kind == A_STATUS
      if present then
        dissect_block(tvb, 8, tree, info)
      else
        no_device(tree, tvb, 8)
      end
      text = "CW-Net " .. (present and "status answer" or "status answer, no device") .. " SDI " .. sdi
          .. (present and (" device " .. hex2(u(tvb, 9, 1))) or "")
    end
  elseif framing == 1 and (kind == A_STATUS or kind == A_NODEVICE or kind == A_DEVSTATUS or kind == A_READBACK) then
    dissect_head(tvb, 0, len, tree)
    add(tree, F.command, tvb, 22, 1)
    add(tree, F.command_length, tvb, 23, 2)
    if kind == A_STATUS or kind == A_NODEVICE then
      local present = kind == A_STATUS
      if present then
        dissect_block(tvb, 25, tree, info)
      else
        no_device(tree, tvb, 25)
      end
      text = "DDToIP " .. (present and "status answer" or "status answer, no device")
          .. (info.board_address and (" SDI " .. info.board_address) or "")
          .. (present and (" device " .. hex2(u(tvb, 26, 1))) or "")
    elseif kind == A_DEVSTATUS then
      dissect_device_status(tvb, tree, info)
      text = "device status answer device " .. hex2(u(tvb, 26, 1))
    else
      dissect_device_readback(tvb, tree, info)
      text = "device read-back answer " .. info.readback
    end
  elseif framing == 1 then
    -- A request: controller commands, or board instructions sent straight to the device.
    if not dissect_head(tvb, 0, len, tree) then
      text = "DDToIP, malformed (" .. len .. " bytes)"
    elseif kind == "device" then
      text = "DDToIP device message '" .. printable(raw(tvb, 6, 15)) .. "': "
          .. summary(dissect_instructions(tvb, 22, len, tree))
    else
      local off, index, parts = 22, 1, {}
      if len == 22 then tree:add_proto_expert_info(E.malformed, "message without commands") end
      while off < len do
        local left = len - off
        if left < 3 then
          malformed(tree, tvb, off, left, string.format("command head needs 3 bytes, %d left", left))
          break
        end
        local code, n = u(tvb, off, 1), u(tvb, off + 1, 2)
        local c = tree:add(r(tvb, off, math.min(3 + n, left)), string.format("Command %d: %s (%s), %d data bytes",
          index, commands[code] or "unknown", hex2(code), n))
        add(c, F.command, tvb, off, 1)
        local lit = add(c, F.command_length, tvb, off + 1, 2)
        if index > 1 then c:add_proto_expert_info(E.unexpected, "a controller command travels alone") end
        local over = 3 + n > left
        if over then
          malformed(lit, tvb, off + 1, 2, string.format("data length %d overruns the datagram: %d bytes left", n,
            left - 3))
        end
        local d, dn = off + 3, math.min(n, left - 3)
        if dn >= 1 and (code == 0x85 or code == 0x86) then
          add(c, F.sdi_address, tvb, d, 1)
          local sdi = u(tvb, d, 1)
          if code == 0x86 then
            if dn >= 3 then add(c, F.read_length, tvb, d + 1, 2) end
            if n ~= 3 then c:add_proto_expert_info(E.unexpected, "a read carries 3 data bytes") end
            parts[#parts + 1] = "read SDI " .. sdi
          else
            parts[#parts + 1] = "load SDI " .. sdi .. " " .. dissect_sdi_message(tvb, d + 1, d + dn, c)
          end
        elseif dn >= 1 then
          add(c, F.command_data, tvb, d, dn)
          parts[#parts + 1] = commands[code] or ("command " .. hex2(code))
        else
          parts[#parts + 1] = commands[code] or ("command " .. hex2(code))
        end
        if over then break end
        off, index = off + 3 + n, index + 1
      end
      text = "DDToIP " .. table.concat(parts, "; ")
    end
  else
    tree:add_proto_expert_info(E.undecoded, string.format("not a datagram of this system (%d bytes)", len))
    text = "unrecognised datagram (" .. len .. " bytes)"
  end

  if kind == A_STATUS or kind == A_DEVSTATUS then
    if info.serial then text = text .. " serial " .. info.serial end
  end
  pinfo.cols.info = text
  tree:append_text(", " .. text)
  return len
end

function p.dissector(tvb, pinfo, root)
  return dissect(tvb, pinfo, root)
end

---------------------------------------------------------------------------
-- Registration: the device port (preference tessaly.port) and a heuristic.

local udp_table = DissectorTable.get("udp.port")
local registered_port = DEFAULT_PORT
udp_table:add(registered_port, p)

function p.prefs_changed()
  if p.prefs.port ~= registered_port then
    if registered_port ~= 0 then udp_table:remove(registered_port, p) end
    registered_port = p.prefs.port
    if registered_port ~= 0 then udp_table:add(registered_port, p) end
  end
end

local function heuristic(tvb, pinfo, root)
  if not recognised(tvb) then return false end
  dissect(tvb, pinfo, root)
  return true
end
p:register_heuristic("udp", heuristic)
