-- Wireshark dissector for the VARDEK board's UDP protocol on port 10001.
--
-- A datagram to the board's port is a request, one from it a reply. The port is a preference
-- ("vardek.port"), for a board or simulator listening elsewhere. Replies name no request: the
-- board answers in order, so within one conversation (the panel's address and port with the
-- board's) the dissector pairs each reply with the oldest request still unanswered.
--
-- The texts are those of link/reply_text.cpp, the first letter capitalised as Info columns are;
-- tests/test_capture.cpp holds the two to each other. The fields and expert infos are added
-- whenever Wireshark builds a tree, shown or not: display filters, colouring rules and
-- statistics read them from the tree it builds unseen.
--
-- Written for Wireshark 4.0 (Lua 5.2): bit operations go through the `bit` library.

local DEFAULT_PORT = 10001
local REPLY_SIZE = 8

local vardek = Proto("vardek", "VARDEK board protocol")
vardek.prefs.port = Pref.uint("Board UDP port", DEFAULT_PORT, "UDP port that the board listens on")
-- The preference as last taken (prefs_changed below): each read of a preference looks it up by
-- name, which on every datagram cost as much as the rest of a plain read's dissection.
local board_port = DEFAULT_PORT

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
f.request_in = ProtoField.framenum("vardek.request_in", "Answers the request in frame", base.NONE)
f.window = ProtoField.string("vardek.window", "The window shows it")

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
    truncated = ProtoExpert.new("vardek.truncated", "Datagram cut short by the capture",
        expert.group.UNDECODED, expert.severity.WARN),
}
vardek.experts = { e.request_length, e.command, e.operand, e.bit, e.selector, e.tail,
    e.reply_length, e.truncated }

-- On the first pass, in frame order: per conversation, the requests the board has taken and not
-- yet answered, oldest first, and the read that the window would still be waiting for (it keeps
-- one, the last sent). Per reply frame, the request it answers, that request's selector (0 for
-- none) and the selector of the window's read, so a second pass (clicking in the GUI) shows the
-- same. Numbers only, in flat tables: a large capture allocates nothing per datagram here.
local unanswered = {}
local window_waiting = {}
local answers_frame, answers_selector, window_selector = {}, {}, {}

function vardek.init()
    unanswered = {}
    window_waiting = {}
    answers_frame, answers_selector, window_selector = {}, {}, {}
end

local function conversation(panel_address, panel_port, board_address)
    return tostring(panel_address) .. ":" .. panel_port .. ">" .. tostring(board_address)
end

-- Each byte as the panel's dump shows it: "0FF" for 255.
local hex3 = {}
for byte = 0, 255 do
    hex3[byte] = string.format("%03X", byte)
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

local function reading_text(selector, value)
    if selector == TEMPERATURE_SELECTOR then
        return temperature_text(value)
    end
    return raw_text(value)
end

-- Records a problem on `item` and in `problems`, which it returns.
local function flag(problems, item, expert_info, text)
    item:add_proto_expert_info(expert_info, text)
    problems = problems or {}
    problems[#problems + 1] = text
    return problems
end

-- Adds `field` over `length` bytes at `offset` where fields are built (`fields`), and returns
-- the item to flag a problem with it on: that field's, or the protocol's where none is built.
local function add_field(tree, fields, field, tvb, offset, length)
    if fields then
        return tree:add(field, tvb(offset, length))
    end
    return tree
end

-- `number` is the frame's, `length` the datagram's real length, `raw` its captured bytes. Returns
-- the Info text and the problems found, if any, and adds the fields to `tree` where `fields` asks
-- for them.
local function dissect_request(tvb, pinfo, number, tree, fields, length, raw)
    local problems
    local first, second, third = raw:byte(1, 3)

    if length == 0 then
        return "Empty request", flag(problems, tree, e.request_length, "wrong length: 0 bytes")
    end
    local command = first
    local command_item = add_field(tree, fields, f.command, tvb, 0, 1)
    local info = command_names[command]
    local expected_length = 3
    if info == nil then
        return string.format("Command 0x%02X", command),
            flag(problems, command_item, e.command, "unknown command")
    end
    local selector
    if command == 0x00 then
        expected_length = 1
    elseif command == 0x04 then
        selector = second
        if selector ~= nil then
            local item = add_field(tree, fields, f.selector, tvb, 1, 1)
            info = info .. " " .. (pins[selector] or string.format("0x%02X", selector))
            if pins[selector] == nil then
                problems = flag(problems, item, e.selector, "unknown selector")
            end
        end
        if third ~= nil then
            local item = add_field(tree, fields, f.tail, tvb, 2, 1)
            if third ~= READ_TAIL then
                problems = flag(problems, item, e.tail, string.format("tail 0x%02X, not 0x01", third))
            end
        end
    else
        if second ~= nil then
            local item = add_field(tree, fields, f.operand, tvb, 1, 1)
            if second ~= PORT_B then
                problems = flag(problems, item, e.operand,
                    string.format("operand 0x%02X, not port B", second))
            end
        end
        if third ~= nil then
            local n = third
            local item = add_field(tree, fields, f.bit, tvb, 2, 1)
            info = info .. " RB" .. n
            if n < 2 or n > 7 then
                problems = flag(problems, item, e.bit, "bit outside 2..7")
            end
        end
    end
    if length ~= expected_length then
        problems = flag(problems, tree, e.request_length,
            string.format("wrong length: %d bytes, not %d", length, expected_length))
    end
    -- Only what the board takes is answered: that request waits for the next reply. Its bytes
    -- count only as far as they were captured.
    if problems == nil and not pinfo.visited then
        local key = conversation(pinfo.src, pinfo.src_port, pinfo.dst)
        local queue = unanswered[key]
        if queue == nil then
            queue = { first = 1, last = 0, frames = {}, selectors = {} }
            unanswered[key] = queue
        end
        queue.last = queue.last + 1
        queue.frames[queue.last] = number
        queue.selectors[queue.last] = selector or 0
        if selector ~= nil then
            window_waiting[key] = selector
        end
    end
    return info, problems
end

local function dissect_reply(tvb, pinfo, number, tree, fields, length, raw)
    if not pinfo.visited then
        -- Any datagram back answers the oldest request, and ends the window's wait for a read.
        local key = conversation(pinfo.dst, pinfo.dst_port, pinfo.src)
        local queue = unanswered[key]
        if queue ~= nil and queue.first <= queue.last then
            local first = queue.first
            answers_frame[number] = queue.frames[first]
            answers_selector[number] = queue.selectors[first]
            queue.frames[first], queue.selectors[first] = nil, nil
            if first == queue.last then
                -- Emptied, as after every reply of a board answered in turn: starting again at 1
                -- keeps the queue in the tables' array part instead of a hash growing with the
                -- capture.
                queue.first, queue.last = 1, 0
            else
                queue.first = first + 1
            end
        end
        window_selector[number] = window_waiting[key]
        window_waiting[key] = nil
    end
    if length ~= REPLY_SIZE then
        local text = string.format("wrong length: %d bytes, not 8", length)
        tree:add_proto_expert_info(e.reply_length, text)
        return "Reply", { text }
    end
    if #raw < REPLY_SIZE then
        return "Reply"
    end

    local b0, b1, b2, b3, b4, b5, b6, b7 = raw:byte(1, 8)
    local info = hex3[b0] .. " " .. hex3[b1] .. " " .. hex3[b2] .. " " .. hex3[b3] .. " " ..
        hex3[b4] .. " " .. hex3[b5] .. " " .. hex3[b6] .. " " .. hex3[b7]
    local value = b4 * 256 + b5
    local selector = answers_selector[number]
    if selector == 0 then
        selector = nil
    end
    if selector ~= nil then
        info = info .. "; " .. pins[selector] .. " " .. reading_text(selector, value)
    end
    if not fields then
        return info
    end
    tree:add(f.dump, tvb(), info:sub(1, 31))
    local portb = tree:add(f.portb, tvb(1, 1))
    for n = 7, 0, -1 do
        portb:add(pin_fields[n], tvb(1, 1))
    end
    tree:add(f.value, tvb(4, 2))
    if answers_frame[number] ~= nil then
        tree:add(f.request_in, answers_frame[number]):set_generated()
    end
    if selector ~= nil then
        tree:add(f.selector, selector):set_generated()
        if selector == TEMPERATURE_SELECTOR then
            tree:add(f.temperature, tvb(4, 2), celsius(value),
                "Temperature: " .. temperature_text(value))
        end
    end
    -- The window keeps one read and takes whatever reply comes next as its answer.
    local window = window_selector[number]
    if window ~= selector then
        local shown = window and ("as " .. pins[window] .. " " .. reading_text(window, value) ..
            ": it keeps only the last read sent")
            or "as no reading: it took an earlier reply for its read's answer"
        tree:add(f.window, shown):set_generated()
    end
    return info
end

-- Frame number of the last datagram dissected, for the postdissector below.
local seen = 0

function vardek.dissector(tvb, pinfo, tree)
    -- Each read of pinfo's fields makes an object: the frame's number is read once.
    local number = pinfo.number
    seen = number
    local columns = pinfo.cols
    columns.protocol = "VARDEK"
    local length = tvb:reported_len()
    local captured = tvb:len()
    local raw = captured > 0 and tvb:raw(0, captured) or ""
    -- A read of a capture for its summary lines alone builds no tree (the tree handed in has no
    -- text then): nothing can read the fields, and adding them, fourteen for a reply, would
    -- double the read's cost. The expert infos are added all the same, since statistics count
    -- them without a tree.
    local fields = tree.text ~= nil
    local subtree = fields and tree:add(vardek, tvb()) or tree
    local info, problems
    if pinfo.dst_port == board_port then
        info, problems = dissect_request(tvb, pinfo, number, subtree, fields, length, raw)
    else
        info, problems = dissect_reply(tvb, pinfo, number, subtree, fields, length, raw)
    end
    if captured < length then
        problems = flag(problems, subtree, e.truncated,
            string.format("captured %d of %d bytes", captured, length))
    end
    if problems then
        info = info .. " [" .. table.concat(problems, "; ") .. "]"
    end
    columns.info = info
    if fields then
        subtree:append_text(", " .. info)
    end
    return captured
end

-- The UDP dissector hands no empty payload on to a port's dissector, so a postdissector looks
-- for UDP datagrams to or from the board that the dissector above did not see: the empty ones.
-- It reads the ports alone, so a capture without them costs it next to nothing.
local empty_datagrams = Proto("vardek_empty", "VARDEK board protocol, empty datagrams")
local PT_UDP = 3

function empty_datagrams.dissector(tvb, pinfo, tree)
    if seen == pinfo.number or pinfo.port_type ~= PT_UDP then
        return
    end
    if pinfo.src_port == board_port or pinfo.dst_port == board_port then
        vardek.dissector(tvb(tvb:len(), 0):tvb(), pinfo, tree)
    end
end
register_postdissector(empty_datagrams)

local udp_port = DissectorTable.get("udp.port")
udp_port:add(board_port, vardek)

function vardek.prefs_changed()
    if vardek.prefs.port ~= board_port then
        udp_port:remove(board_port, vardek)
        board_port = vardek.prefs.port
        udp_port:add(board_port, vardek)
    end
end
