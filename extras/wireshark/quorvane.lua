-- Wireshark dissector for the Quorvane device protocol: the UDP packets with
-- which the upgrade tools find, query and program device servers.
--
-- Every packet starts with a 14-byte header (reserved byte, opcode, magic,
-- MAC, payload length; numbers little-endian) followed by the payload of its
-- opcode. Requests carry the request magic, replies the reply magic. A reply
-- is linked to its request (frame numbers both ways and the round-trip time)
-- and a request sent again unanswered is marked as a resend.
--
-- Packets are recognised on UDP port 4101 and, by their magic, on any port.
-- Filter names start with "quorvane.". Install by copying this file into a
-- Wireshark plugin folder, or load it with -X lua_script:quorvane.lua.

local proto = Proto("quorvane", "Quorvane Device Protocol")

local DEVICE_PORT = 4101
local HEADER_SIZE = 14
local REQUEST_MAGIC = 0x13011972
local REPLY_MAGIC = 0x30061996

local OP = {
    DISCOVER = 0, DISCOVER_REPLY = 1, LOCK = 2, UNLOCK = 3, ERASE = 4, LOAD_BEGIN = 5,
    LOAD_VERIFY = 6, LOAD_BLOCK = 7, RESET = 8, PROGRAM_MODE = 9, READ = 10, GET_INFO = 12,
    INFO_REPLY = 13,
}
local OPCODE_NAMES = {}
for name, value in pairs(OP) do OPCODE_NAMES[value] = name end

-- The request each reply opcode answers: every command's reply carries the
-- opcode of its request, except discovery and the information query.
local function RequestOpcodeOf(opcode)
    if opcode == OP.DISCOVER_REPLY then return OP.DISCOVER end
    if opcode == OP.INFO_REPLY then return OP.GET_INFO end
    return opcode
end

local TAG_IDENTITY, TAG_FIRMWARE, TAG_NAMING = 0, 32, 48
local TAG_NAMES = { [TAG_IDENTITY] = "Identity", [TAG_FIRMWARE] = "Firmware", [TAG_NAMING] = "Naming" }
local IDENTITY_LENGTH, NAMING_LENGTH = 14, 78
local FIRMWARE_ENTRY_SIZE = 10
local KIND_REVISION, KIND_PRODUCT, KIND_LETTERS = 8, 11, 12
local KIND_NAMES = { [KIND_REVISION] = "Revision", [KIND_PRODUCT] = "Product", [KIND_LETTERS] = "Letters" }

-- ---- fields -----------------------------------------------------------------

local f = {
    reserved = ProtoField.uint8("quorvane.reserved", "Reserved", base.HEX),
    opcode = ProtoField.uint8("quorvane.opcode", "Opcode", base.DEC, OPCODE_NAMES),
    magic = ProtoField.uint32("quorvane.magic", "Magic", base.HEX,
        { [REQUEST_MAGIC] = "Request", [REPLY_MAGIC] = "Reply" }),
    is_reply = ProtoField.bool("quorvane.reply", "Is a reply"),
    mac = ProtoField.ether("quorvane.mac", "MAC"),
    payload_length = ProtoField.uint16("quorvane.payload_length", "Payload length", base.DEC),
    payload = ProtoField.bytes("quorvane.payload", "Payload"),
    trailing = ProtoField.bytes("quorvane.trailing", "Bytes after the payload"),

    discover_first = ProtoField.uint16("quorvane.discover.first", "First discovery word", base.HEX),
    discover_second = ProtoField.uint16("quorvane.discover.second", "Second discovery word", base.HEX),

    erase_value = ProtoField.uint16("quorvane.erase.value", "Erase value", base.DEC),
    erase_echo = ProtoField.uint16("quorvane.erase.echo", "Erase echo", base.DEC),

    load_address_a = ProtoField.uint16("quorvane.load.address_a", "Address word a", base.DEC),
    load_address_b = ProtoField.uint16("quorvane.load.address_b", "Address word b", base.DEC),
    load_total = ProtoField.uint32("quorvane.load.total_length", "Total length", base.DEC),
    load_block_size = ProtoField.uint16("quorvane.load.block_size", "Block size", base.DEC),

    block_index = ProtoField.uint16("quorvane.block.index", "Block index", base.DEC),
    block_length = ProtoField.uint16("quorvane.block.length", "Data length", base.DEC),
    block_data = ProtoField.bytes("quorvane.block.data", "Data"),
    block_echo = ProtoField.uint16("quorvane.block.echo", "Block echo", base.DEC),

    checksum = ProtoField.uint8("quorvane.verify.checksum", "Checksum", base.HEX),

    read_length = ProtoField.uint16("quorvane.read.length", "Length", base.DEC),
    read_address_a = ProtoField.uint16("quorvane.read.address_a", "Address word a", base.DEC),
    read_address_b = ProtoField.uint16("quorvane.read.address_b", "Address word b", base.DEC),
    read_data = ProtoField.bytes("quorvane.read.data", "Data"),

    info_flag = ProtoField.uint8("quorvane.info.flag", "Information flag", base.HEX),
    info_block = ProtoField.bytes("quorvane.info.block", "Information block"),
    record = ProtoField.bytes("quorvane.info.record", "Record"),
    record_length = ProtoField.uint8("quorvane.info.record_length", "Record length", base.DEC),
    record_tag = ProtoField.uint8("quorvane.info.tag", "Tag", base.DEC, TAG_NAMES),
    vendor_id = ProtoField.uint16("quorvane.info.vendor_id", "Vendor id", base.HEX),
    device_id = ProtoField.uint16("quorvane.info.device_id", "Device id", base.HEX),
    entry = ProtoField.bytes("quorvane.info.entry", "Firmware entry"),
    entry_kind = ProtoField.uint8("quorvane.info.entry_kind", "Kind", base.DEC, KIND_NAMES),
    revision_id = ProtoField.uint8("quorvane.info.revision_id", "Revision id", base.DEC),
    version_second = ProtoField.uint8("quorvane.info.version_second", "Second version number", base.DEC),
    version_third = ProtoField.uint8("quorvane.info.version_third", "Third version number", base.DEC),
    product_id = ProtoField.uint16("quorvane.info.product_id", "Product id", base.HEX),
    date_first = ProtoField.uint16("quorvane.info.date_first", "First date part", base.DEC),
    date_second = ProtoField.uint8("quorvane.info.date_second", "Second date part", base.DEC),
    date_third = ProtoField.uint8("quorvane.info.date_third", "Third date part", base.DEC),
    letters = ProtoField.string("quorvane.info.letters", "Firmware letters"),
    name = ProtoField.string("quorvane.info.name", "Device name"),
    workgroup = ProtoField.string("quorvane.info.workgroup", "Workgroup"),

    -- The frame types give Wireshark's request and reply marks (absent before 3.4).
    response_in = ProtoField.framenum("quorvane.response_in", "Reply in", base.NONE,
        frametype and frametype.RESPONSE),
    response_to = ProtoField.framenum("quorvane.response_to", "Reply to the request in", base.NONE,
        frametype and frametype.REQUEST),
    time = ProtoField.relative_time("quorvane.time", "Time since the request"),
    resend_of = ProtoField.framenum("quorvane.resend_of", "Resend of the request in"),
    resend = ProtoField.bool("quorvane.resend", "Resend"),
    duplicate_of = ProtoField.framenum("quorvane.duplicate_of", "Duplicate of the reply in"),
}
local field_list = {}
for _, field in pairs(f) do field_list[#field_list + 1] = field end
proto.fields = field_list

local e = {
    short = ProtoExpert.new("quorvane.short", "Shorter than the 14-byte header",
        expert.group.MALFORMED, expert.severity.ERROR),
    truncated = ProtoExpert.new("quorvane.truncated", "The payload length names more bytes than the packet holds",
        expert.group.MALFORMED, expert.severity.ERROR),
    field_missing = ProtoExpert.new("quorvane.field_missing", "Payload too short for this opcode",
        expert.group.MALFORMED, expert.severity.ERROR),
    trailing = ProtoExpert.new("quorvane.trailing_bytes", "Bytes after the payload",
        expert.group.PROTOCOL, expert.severity.WARN),
    unknown_magic = ProtoExpert.new("quorvane.unknown_magic", "Neither the request nor the reply magic",
        expert.group.PROTOCOL, expert.severity.WARN),
    unknown_opcode = ProtoExpert.new("quorvane.unknown_opcode", "Unknown opcode",
        expert.group.PROTOCOL, expert.severity.WARN),
    bad_record = ProtoExpert.new("quorvane.bad_record", "Malformed information-block record",
        expert.group.MALFORMED, expert.severity.ERROR),
    resend = ProtoExpert.new("quorvane.resend.expert", "Request sent again",
        expert.group.SEQUENCE, expert.severity.NOTE),
    no_request = ProtoExpert.new("quorvane.no_request", "No request for this reply in the capture",
        expert.group.SEQUENCE, expert.severity.NOTE),
    duplicate = ProtoExpert.new("quorvane.duplicate", "Request already answered",
        expert.group.SEQUENCE, expert.severity.NOTE),
}
proto.experts = { e.short, e.truncated, e.field_missing, e.trailing, e.unknown_magic, e.unknown_opcode, e.bad_record,
    e.resend, e.no_request, e.duplicate }

-- ---- helpers ----------------------------------------------------------------

-- Text up to the first zero byte of a range (the whole range when it has none).
local function ZeroEnded(range)
    local raw = range:raw()
    local stop = raw:find("\0", 1, true)
    if stop then raw = raw:sub(1, stop - 1) end
    return (raw:gsub("[^\32-\126]", "?"))
end

-- The MAC as the tools print it; tostring of an ether value would put a
-- resolved name in its place.
local function MacText(range)
    local parts = {}
    for i = 0, 5 do parts[#parts + 1] = string.format("%02x", range(i, 1):uint()) end
    return table.concat(parts, ":")
end

-- A little-endian field at `offset` of `buf` when the packet holds it;
-- otherwise expert info on `tree` and nil, so the caller stops there.
local function AddLe(tree, field, buf, offset, size, limit, what)
    if offset + size > limit then
        tree:add_proto_expert_info(e.field_missing, "Payload too short for the " .. what)
        return nil
    end
    local range = buf(offset, size)
    tree:add_le(field, range)
    return range:le_uint()
end

-- ---- payloads ---------------------------------------------------------------
-- Each takes the tree, the packet, the end of the payload within the packet
-- and returns a short text for the Info column (or nil).

local function DiscoverRequest(tree, buf, limit)
    local first = AddLe(tree, f.discover_first, buf, 14, 2, limit, "first discovery word")
    if first == nil then return nil end
    local second = AddLe(tree, f.discover_second, buf, 16, 2, limit, "second discovery word")
    if second == nil then return nil end
    return string.format("words 0x%04X 0x%04X", first, second)
end

local function DiscoverReply(tree, buf, limit)
    return DiscoverRequest(tree, buf, limit)
end

local function EraseRequest(tree, buf, limit)
    local value = AddLe(tree, f.erase_value, buf, 14, 2, limit, "erase value")
    return value and ("value " .. value)
end

local function EraseReply(tree, buf, limit)
    local echo = AddLe(tree, f.erase_echo, buf, 14, 2, limit, "erase echo")
    return echo and ("echo " .. echo)
end

local function LoadBeginRequest(tree, buf, limit)
    local a = AddLe(tree, f.load_address_a, buf, 14, 2, limit, "address word a")
    if a == nil then return nil end
    local b = AddLe(tree, f.load_address_b, buf, 16, 2, limit, "address word b")
    if b == nil then return nil end
    local total = AddLe(tree, f.load_total, buf, 18, 4, limit, "total length")
    if total == nil then return nil end
    return string.format("address %d:%d, %d bytes", a, b, total)
end

local function LoadBeginReply(tree, buf, limit)
    local size = AddLe(tree, f.load_block_size, buf, 14, 2, limit, "block size")
    return size and ("block size " .. size)
end

local function LoadBlockRequest(tree, buf, limit)
    local index = AddLe(tree, f.block_index, buf, 14, 2, limit, "block index")
    if index == nil then return nil end
    local length = limit - 16
    tree:add(f.block_length, length):set_generated()
    if length > 0 then tree:add(f.block_data, buf(16, length)) end
    return string.format("block %d, %d bytes", index, length)
end

local function LoadBlockReply(tree, buf, limit)
    local echo = AddLe(tree, f.block_echo, buf, 14, 2, limit, "block echo")
    return echo and ("echo " .. echo)
end

local function LoadVerifyReply(tree, buf, limit)
    local sum = AddLe(tree, f.checksum, buf, 14, 1, limit, "checksum")
    return sum and string.format("checksum 0x%02X", sum)
end

local function ReadRequest(tree, buf, limit)
    local length = AddLe(tree, f.read_length, buf, 14, 2, limit, "length")
    if length == nil then return nil end
    local a = AddLe(tree, f.read_address_a, buf, 16, 2, limit, "address word a")
    if a == nil then return nil end
    local b = AddLe(tree, f.read_address_b, buf, 18, 2, limit, "address word b")
    if b == nil then return nil end
    return string.format("%d bytes at %d:%d", length, a, b)
end

local function ReadReply(tree, buf, limit)
    local length = limit - HEADER_SIZE
    if length > 0 then tree:add(f.read_data, buf(HEADER_SIZE, length)) end
    return length .. " bytes"
end

local function FirmwareEntry(tree, entry)
    local kind = entry(0, 1):uint()
    local sub = tree:add(f.entry, entry)
    sub:add(f.entry_kind, entry(0, 1))
    if kind == KIND_REVISION or kind == KIND_PRODUCT then
        if kind == KIND_REVISION then
            sub:add(f.revision_id, entry(1, 1))
        else
            sub:add(f.version_second, entry(1, 1))
            sub:add_le(f.product_id, entry(2, 2))
            sub:add(f.version_third, entry(4, 1))
        end
        sub:add_le(f.date_first, entry(6, 2))
        sub:add(f.date_second, entry(8, 1))
        sub:add(f.date_third, entry(9, 1))
    elseif kind == KIND_LETTERS then
        sub:add(f.letters, entry(6, 3), ZeroEnded(entry(6, 3)))
    end
    sub:set_text(string.format("Firmware entry: %s (kind %d)", KIND_NAMES[kind] or "not used", kind))
end

-- Checks the record's fixed length; false (with expert info) when it is wrong.
local function FixedLength(tree, length, wanted, what)
    if length == wanted then return true end
    tree:add_proto_expert_info(e.bad_record,
        string.format("%s record must be %d bytes long, not %d", what, wanted, length))
    return false
end

local function RecordBody(tree, record, tag, length)
    if tag == TAG_IDENTITY then
        if not FixedLength(tree, length, IDENTITY_LENGTH, "An identity") then return end
        tree:add_le(f.vendor_id, record(2, 2))
        tree:add_le(f.device_id, record(4, 2))
    elseif tag == TAG_FIRMWARE then
        local count = math.floor((length - 2) / FIRMWARE_ENTRY_SIZE)
        for i = 0, count - 1 do
            FirmwareEntry(tree, record(2 + i * FIRMWARE_ENTRY_SIZE, FIRMWARE_ENTRY_SIZE))
        end
    elseif tag == TAG_NAMING then
        if not FixedLength(tree, length, NAMING_LENGTH, "A naming") then return end
        tree:add(f.name, record(20, 18), ZeroEnded(record(20, 18)))
        tree:add(f.workgroup, record(38, 40), ZeroEnded(record(38, 40)))
    end
end

-- The block is a chain of records, each starting with its own length and tag.
local function InfoBlock(tree, block)
    local offset, total, count = 0, block:len(), 0
    while offset < total do
        if total - offset < 2 then
            tree:add_proto_expert_info(e.bad_record, "A record head needs two bytes; one is left")
            return count
        end
        local length = block(offset, 1):uint()
        local tag = block(offset + 1, 1):uint()
        if length < 2 then
            tree:add_proto_expert_info(e.bad_record,
                string.format("Record length %d at offset %d ends the chain", length, offset))
            return count
        end
        local available = math.min(length, total - offset)
        local record = block(offset, available)
        local sub = tree:add(f.record, record)
        sub:set_text(string.format("Record: %s (tag %d), %d bytes", TAG_NAMES[tag] or "not used", tag, length))
        sub:add(f.record_length, record(0, 1))
        sub:add(f.record_tag, record(1, 1))
        count = count + 1
        if available < length then
            sub:add_proto_expert_info(e.bad_record,
                string.format("The record runs %d bytes past the end of the block", length - available))
            return count
        end
        RecordBody(sub, record, tag, length)
        offset = offset + length
    end
    return count
end

local function InfoReply(tree, buf, limit)
    local flag = AddLe(tree, f.info_flag, buf, 14, 1, limit, "information flag")
    if flag == nil then return "no block" end
    local length = limit - 15
    if length <= 0 then return "no block" end
    local block = buf(15, length)
    local sub = tree:add(f.info_block, block)
    local count = InfoBlock(sub, block:tvb())
    sub:set_text(string.format("Information block: %d bytes, %d records", length, count))
    return string.format("block of %d bytes", length)
end

local REQUEST_PAYLOADS = {
    [OP.DISCOVER] = DiscoverRequest, [OP.ERASE] = EraseRequest, [OP.LOAD_BEGIN] = LoadBeginRequest,
    [OP.LOAD_BLOCK] = LoadBlockRequest, [OP.READ] = ReadRequest,
}
local REPLY_PAYLOADS = {
    [OP.DISCOVER_REPLY] = DiscoverReply, [OP.ERASE] = EraseReply, [OP.LOAD_BEGIN] = LoadBeginReply,
    [OP.LOAD_BLOCK] = LoadBlockReply, [OP.LOAD_VERIFY] = LoadVerifyReply, [OP.READ] = ReadReply,
    [OP.INFO_REPLY] = InfoReply,
}

-- ---- conversations ----------------------------------------------------------
-- Built on the first pass over the capture; later passes (clicking a packet,
-- tshark -2) only read them.

local frames = {}       -- frame number -> what this frame was linked to
local latest = {}       -- conversation key -> the last request with that key
local latest_value = {} -- the same, keyed also by erase value or block index

function proto.init()
    frames, latest, latest_value = {}, {}, {}
end

-- Erase and block replies echo a value of the request; keyed by it, a late
-- reply to an earlier block is linked to that block, not the current one.
local function EchoedValue(opcode, buf, limit)
    if (opcode == OP.ERASE or opcode == OP.LOAD_BLOCK) and limit >= 16 then
        return buf(14, 2):le_uint()
    end
    return nil
end

local function ConversationKey(pinfo, opcode, mac, is_reply)
    local program = is_reply and (tostring(pinfo.dst) .. ":" .. pinfo.dst_port)
        or (tostring(pinfo.src) .. ":" .. pinfo.src_port)
    -- A discovery goes to every MAC and is answered by each device's own.
    local target = RequestOpcodeOf(opcode) == OP.DISCOVER and "any" or mac
    return program .. "/" .. target .. "/" .. RequestOpcodeOf(opcode)
end

local function TrackRequest(pinfo, key, value, buf)
    local previous = latest[key]
    local bytes = buf:raw()
    local entry = { time = pinfo.abs_ts, bytes = bytes }
    -- The same bytes again while the earlier send is unanswered: the
    -- retry rule at work.
    if previous and previous.reply == nil and previous.bytes == bytes then
        entry.resend_of = previous.frame
    end
    entry.frame = pinfo.number
    latest[key] = entry
    if value then latest_value[key .. "/" .. value] = entry end
    frames[pinfo.number] = entry
end

local function TrackReply(pinfo, key, value, opcode)
    local request = (value and latest_value[key .. "/" .. value]) or latest[key]
    local entry = {}
    if request then
        entry.request = request.frame
        -- Whole microseconds, the resolution of the capture.
        entry.rtt_us = math.floor((pinfo.abs_ts - request.time) * 1e6 + 0.5)
        -- Every device answers a discovery: only there are several replies normal.
        if request.reply == nil then
            request.reply = pinfo.number
        elseif RequestOpcodeOf(opcode) ~= OP.DISCOVER then
            entry.duplicate_of = request.reply
        end
    end
    frames[pinfo.number] = entry
end

-- Returns a mark for the Info column, or "".
local function ShowConversation(tree, pinfo, is_reply)
    local entry = frames[pinfo.number]
    if entry == nil then return "" end
    if not is_reply then
        if entry.reply then tree:add(f.response_in, entry.reply):set_generated() end
        if entry.resend_of == nil then return "" end
        tree:add(f.resend, true):set_generated()
        tree:add(f.resend_of, entry.resend_of):set_generated()
        tree:add_proto_expert_info(e.resend, "Resend of the request in frame " .. entry.resend_of)
        return " [resend]"
    end
    if entry.request == nil then
        tree:add_proto_expert_info(e.no_request)
        return ""
    end
    tree:add(f.response_to, entry.request):set_generated()
    local seconds = math.floor(entry.rtt_us / 1e6)
    tree:add(f.time, NSTime.new(seconds, (entry.rtt_us - seconds * 1e6) * 1000)):set_generated()
    if entry.duplicate_of then
        tree:add(f.duplicate_of, entry.duplicate_of):set_generated()
        tree:add_proto_expert_info(e.duplicate, "The request was answered in frame " .. entry.duplicate_of)
        return " [duplicate]"
    end
    return ""
end

-- ---- the packet -------------------------------------------------------------

local function Header(tree, buf)
    tree:add(f.reserved, buf(0, 1))
    tree:add(f.opcode, buf(1, 1))
    tree:add_le(f.magic, buf(2, 4))
    tree:add(f.mac, buf(6, 6))
    tree:add_le(f.payload_length, buf(12, 2))
end

-- The end of the payload within the packet: what the length field names,
-- cut to what arrived; the difference either way earns expert info.
local function PayloadEnd(tree, buf, declared)
    local available = buf:len() - HEADER_SIZE
    if declared > available then
        tree:add_proto_expert_info(e.truncated,
            string.format("The payload length is %d, but %d bytes follow the header", declared, available))
        return buf:len()
    end
    if declared < available then
        tree:add(f.trailing, buf(HEADER_SIZE + declared, available - declared))
        tree:add_proto_expert_info(e.trailing,
            string.format("%d bytes follow the %d-byte payload", available - declared, declared))
    end
    return HEADER_SIZE + declared
end

function proto.dissector(buf, pinfo, root)
    pinfo.cols.protocol = "QUORVANE"
    local tree = buf:len() > 0 and root:add(proto, buf()) or root:add(proto)
    if buf:len() < HEADER_SIZE then
        tree:add_proto_expert_info(e.short, string.format("%d bytes; the header alone is 14", buf:len()))
        pinfo.cols.info = "Malformed: " .. buf:len() .. " bytes"
        return buf:len()
    end
    Header(tree, buf)
    local opcode = buf(1, 1):uint()
    local magic = buf(2, 4):le_uint()
    local is_reply = magic == REPLY_MAGIC
    if not is_reply and magic ~= REQUEST_MAGIC then tree:add_proto_expert_info(e.unknown_magic) end
    local mac = MacText(buf(6, 6))
    tree:add(f.is_reply, is_reply):set_generated()
    local name = OPCODE_NAMES[opcode]
    if name == nil then
        tree:add_proto_expert_info(e.unknown_opcode, "Unknown opcode " .. opcode)
        name = "OP_" .. opcode
    end
    local limit = PayloadEnd(tree, buf, buf(12, 2):le_uint())
    local payloads = is_reply and REPLY_PAYLOADS or REQUEST_PAYLOADS
    local summary = payloads[opcode] and payloads[opcode](tree, buf, limit)

    if not pinfo.visited then
        local key = ConversationKey(pinfo, opcode, mac, is_reply)
        local value = EchoedValue(opcode, buf, limit)
        if is_reply then TrackReply(pinfo, key, value, opcode) else TrackRequest(pinfo, key, value, buf) end
    end
    local mark = ShowConversation(tree, pinfo, is_reply)

    local info = string.format("%s %s %s", is_reply and "Reply" or "Request", name, mac)
    if summary then info = info .. ", " .. summary end
    pinfo.cols.info:set(info .. mark)
    tree:append_text(string.format(", %s %s", is_reply and "Reply" or "Request", name))
    return buf:len()
end

-- Recognised by the magic, so that a simulator on another port is decoded too.
local function Heuristic(buf, pinfo, root)
    if buf:len() < 6 then return false end
    local magic = buf(2, 4):le_uint()
    if magic ~= REQUEST_MAGIC and magic ~= REPLY_MAGIC then return false end
    proto.dissector(buf, pinfo, root)
    return true
end

DissectorTable.get("udp.port"):add(DEVICE_PORT, proto)
proto:register_heuristic("udp", Heuristic)
