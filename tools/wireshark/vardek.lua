-- Wireshark dissector for the VARDEK board's UDP protocol on port 10001.
--
-- A datagram to the board's port is a request, one from it a reply. The port is a preference
-- ("vardek.port"), for a board or simulator listening elsewhere. Replies name no request:
-- like the panel, the dissector matches a reply to the channel read before it only by order,
-- within one conversation (the panel's address and port with the board's).
--
-- Written for Wireshark 4.0 (Lua 5.2): bit operations go through the `bit` library.

local DEFAULT_PORT = 10001
local REPLY_SIZE = 8

local vardek = Proto("vardek", "VARDEK board protocol")
vardek.prefs.port = Pref.uint("Board UDP port", DEFAULT_PORT, "UDP port that the board listens on")

local command_names = { [0x00] = "Status", [0x01] = "Set", [0x02] = "Clear", [0x04] = "Read" }
local command_values = { [0x00] = "status", [0x01] = "set", [0x02] = "clear", [0x04] = "read" }
local PORT_B = 0x06
local READ_TAIL = 0x01
local pins = { [0x81] = "RA0", [0x89] = "RA1", [0x91] = "RA2", [0x99] = "RA3", [0xA1] = "RA5" }
local TEMPERATURE_SELECTOR = 0xA1

local f = vardek.fields
f.command = ProtoField.uint8("vardek.command", "Command", base.HEX, command_values)
f.operand = ProtoField.uint8("vardek.operand", "Operand", base.HEX, { [PORT_B] = "port B" })
f.bit = ProtoField.uint8("vardek.bit", "Bit", base.DEC)
f.selector = ProtoField.uint8("vardek.selector", "Selector", base.HEX, pins)
f.tail = ProtoField.uint8("vardek.tail", "Tail", base.HEX)
f.dump = ProtoField.string("vardek.dump", "Dump")
f.portb = ProtoField.uint8("vardek.portb", "Port B", base.HEX)
local pin_fields = {}
for n = 0, 7 do
    local role = n < 2 and "input" or "output"
    pin_fields[n] = ProtoField.bool("vardek.portb.rb" .. n, "RB" .. n .. " (" .. role .. ")", 8,
        { "set", "clear" }, bit.lshift(1, n))
    f["rb" .. n] = pin_fields[n]
end
f.value = ProtoField.uint16("vardek.value", "Conversion result", base.HEX_DEC)
f.temperature = ProtoField.double("vardek.temperature", "Temperature")
f.request_in = ProtoField.framenum("vardek.request_in", "Answers the read in frame", base.NONE)

local function malformed(abbrev, text)
    return ProtoExpert.new("vardek." .. abbrev, text, expert.group.MALFORMED, expert.severity.ERROR)
end
local e = {
    request_length = malformed("request.length", "Request of the wrong length"),
    command = malformed("command.unknown", "Unknown command"),
    operand = malformed("operand.bad", "Operand is not port B (0x06)"),
    bit = malformed("bit.bad", "Bit outside 2..7"),
    selector = malformed("selector.unknown", "Unknown channel selector"),
    tail = malformed("tail.bad", "Channel read not ending in 0x01"),
    reply_length = malformed("reply.length", "Reply that is not exactly 8 bytes"),
}
vardek.experts = { e.request_length, e.command, e.operand, e.bit, e.selector, e.tail,
    e.reply_length }

-- Per conversation, the read awaiting its answer on the first pass, in frame order; per frame,
-- the read that a reply answers, so a second pass (clicking in the GUI) shows the same.
local pending_read = {}
local answered_read = {}

function vardek.init()
    pending_read = {}
    answered_read = {}
end

local function conversation(panel_address, panel_port, board_address)
    return tostring(panel_address) .. ":" .. panel_port .. ">" .. tostring(board_address)
end

-- The reply's bytes as the panel's dump shows them, less its trailing space.
local function dump_text(tvb)
    local parts = {}
    for i = 0, tvb:len() - 1 do
        parts[#parts + 1] = string.format("%03X", tvb(i, 1):uint())
    end
    return table.concat(parts, " ")
end

-- A raw reading as the panel shows it: "012C(300)".
local function raw_text(value)
    return string.format("%04X(%d)", value, value)
end

-- The RA5 reading as the panel shows it, value / 1024 * 500 in "%4.1f ℃", an exact half in the
-- second decimal rounded up (31.25 reads 31.3). Every step is exact in a double.
local function celsius(value)
    return value / 1024 * 500
end
local function temperature_text(value)
    local tenths = math.floor(celsius(value) * 10 + 0.5)
    local number = string.format("%d.%d", math.floor(tenths / 10), tenths % 10)
    return string.format("%4s \226\132\131", number)
end

local function dissect_request(tvb, pinfo, tree)
    local length = tvb:len()
    local problems = {}
    local function flag(item, expert_info, text)
        item:add_proto_expert_info(expert_info, text)
        problems[#problems + 1] = text
    end

    if length == 0 then
        flag(tree, e.request_length, "wrong length: 0 bytes")
        return "Empty request", problems
    end
    local command = tvb(0, 1):uint()
    local command_item = tree:add(f.command, tvb(0, 1))
    local info = command_names[command]
    local expected_length = 3
    if info == nil then
        info = string.format("Command 0x%02X", command)
        flag(command_item, e.command, "unknown command")
        return info, problems
    end
    if command == 0x00 then
        expected_length = 1
    elseif command == 0x04 then
        if length >= 2 then
            local selector = tvb(1, 1):uint()
            local item = tree:add(f.selector, tvb(1, 1))
            info = info .. " " .. (pins[selector] or string.format("0x%02X", selector))
            if pins[selector] == nil then
                flag(item, e.selector, "unknown selector")
            end
        end
        if length >= 3 then
            local item = tree:add(f.tail, tvb(2, 1))
            if tvb(2, 1):uint() ~= READ_TAIL then
                flag(item, e.tail, string.format("tail 0x%02X, not 0x01", tvb(2, 1):uint()))
            end
        end
        -- Only a read that the board takes is waiting for an answer.
        if #problems == 0 and length == expected_length and not pinfo.visited then
            pending_read[conversation(pinfo.src, pinfo.src_port, pinfo.dst)] =
                { selector = tvb(1, 1):uint(), frame = pinfo.number }
        end
    else
        if length >= 2 then
            local item = tree:add(f.operand, tvb(1, 1))
            if tvb(1, 1):uint() ~= PORT_B then
                flag(item, e.operand, string.format("operand 0x%02X, not port B", tvb(1, 1):uint()))
            end
        end
        if length >= 3 then
            local n = tvb(2, 1):uint()
            local item = tree:add(f.bit, tvb(2, 1))
            info = info .. " RB" .. n
            if n < 2 or n > 7 then
                flag(item, e.bit, "bit outside 2..7")
            end
        end
    end
    if length ~= expected_length then
        flag(tree, e.request_length, string.format("wrong length: %d bytes, not %d", length,
            expected_length))
    end
    return info, problems
end

local function dissect_reply(tvb, pinfo, tree)
    local length = tvb:len()
    -- Any datagram back ends the wait for a read, as it does in the panel.
    if not pinfo.visited then
        local key = conversation(pinfo.dst, pinfo.dst_port, pinfo.src)
        answered_read[pinfo.number] = pending_read[key]
        pending_read[key] = nil
    end
    if length ~= REPLY_SIZE then
        local text = string.format("wrong length: %d bytes, not 8", length)
        tree:add_proto_expert_info(e.reply_length, text)
        return "Reply", { text }
    end

    local dump = dump_text(tvb)
    tree:add(f.dump, tvb(), dump)
    local portb = tree:add(f.portb, tvb(1, 1))
    for n = 7, 0, -1 do
        portb:add(pin_fields[n], tvb(1, 1))
    end
    local value = tvb(4, 2):uint()
    tree:add(f.value, tvb(4, 2))

    local info = dump
    local read = answered_read[pinfo.number]
    if read ~= nil then
        local pin = pins[read.selector]
        tree:add(f.request_in, read.frame):set_generated()
        tree:add(f.selector, read.selector):set_generated()
        if read.selector == TEMPERATURE_SELECTOR then
            local text = temperature_text(value)
            tree:add(f.temperature, tvb(4, 2), celsius(value), "Temperature: " .. text)
            info = info .. "; " .. pin .. " " .. text
        else
            info = info .. "; " .. pin .. " " .. raw_text(value)
        end
    end
    return info, {}
end

function vardek.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "VARDEK"
    local subtree = tree:add(vardek, tvb())
    local info, problems
    if pinfo.dst_port == vardek.prefs.port then
        info, problems = dissect_request(tvb, pinfo, subtree)
    else
        info, problems = dissect_reply(tvb, pinfo, subtree)
    end
    if #problems > 0 then
        info = info .. " [" .. table.concat(problems, "; ") .. "]"
    end
    pinfo.cols.info = info
    subtree:append_text(", " .. info)
    return tvb:len()
end

-- The UDP dissector hands no empty payload on to a port's dissector, so a postdissector looks
-- for empty datagrams to or from the board: an empty request, or an empty reply.
local empty_datagrams = Proto("vardek_empty", "VARDEK board protocol, empty datagrams")
local udp_length = Field.new("udp.length")
local UDP_HEADER_SIZE = 8

function empty_datagrams.dissector(tvb, pinfo, tree)
    local lengths = { udp_length() }
    if #lengths ~= 1 or lengths[1].value ~= UDP_HEADER_SIZE then
        return
    end
    if pinfo.src_port == vardek.prefs.port or pinfo.dst_port == vardek.prefs.port then
        vardek.dissector(tvb(tvb:len(), 0):tvb(), pinfo, tree)
    end
end
register_postdissector(empty_datagrams)

local udp_port = DissectorTable.get("udp.port")
local registered_port = DEFAULT_PORT
udp_port:add(registered_port, vardek)

function vardek.prefs_changed()
    if vardek.prefs.port ~= registered_port then
        udp_port:remove(registered_port, vardek)
        registered_port = vardek.prefs.port
        udp_port:add(registered_port, vardek)
    end
end
