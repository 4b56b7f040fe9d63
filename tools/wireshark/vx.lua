-- Wireshark/tshark dissector for the vx tanks game protocol (UDP).
--
--   tshark -X lua_script:vx.lua -r capture.pcapng -Y vx
--   or copy this file into the personal Lua plugins folder
--   (Help > About Wireshark > Folders).
--
-- Three kinds of datagram, told apart by their ports:
--   registration  client -> a registration port: the five bytes "ADDME"
--   ack           a registration port -> client: the userID, little-endian
--                 32-bit; clients take the first 4 bytes, and a shorter
--                 datagram fills only the low-order bytes
--   state         client -> the state port: X, Y, userID, each a
--                 little-endian signed 32-bit integer, 12 bytes in all
-- Preferences vx.registration_ports (default 9779 desktop, 80 handheld)
-- and vx.state_ports (default 9780) move them, e.g.
--   tshark -o vx.registration_ports:9779,8080 ...

local vx = Proto("vx", "vx tanks game protocol")

local STATE_SIZE = 12
local ID_SIZE = 4

local fields = {
    kind = ProtoField.string("vx.kind", "Kind"),
    length = ProtoField.uint32("vx.length", "Payload length"),
    userid = ProtoField.int32("vx.userid", "User ID"),
    x = ProtoField.int32("vx.x", "X"),
    y = ProtoField.int32("vx.y", "Y"),
    request = ProtoField.string("vx.request", "Request"),
    ignored = ProtoField.bytes("vx.ignored", "Bytes the clients ignore"),
}
vx.fields = { fields.kind, fields.length, fields.userid, fields.x, fields.y, fields.request, fields.ignored }

local experts = {
    state_size = ProtoExpert.new("vx.state.bad_size", "State record is not 12 bytes",
        expert.group.MALFORMED, expert.severity.ERROR),
    not_addme = ProtoExpert.new("vx.registration.not_addme", "Registration is not exactly \"ADDME\"",
        expert.group.PROTOCOL, expert.severity.WARN),
    short_ack = ProtoExpert.new("vx.ack.short", "ACK shorter than 4 bytes: the missing high-order bytes of the userID are 0",
        expert.group.MALFORMED, expert.severity.WARN),
}
vx.experts = { experts.state_size, experts.not_addme, experts.short_ack }

vx.prefs.registration_ports = Pref.range("Registration ports", "9779,80",
    "UDP ports the clients register on (desktop 9779, handheld 80); ACKs come from them", 65535)
vx.prefs.state_ports = Pref.range("State ports", "9780",
    "UDP ports the clients send their 12-byte state records to", 65535)

-- "80,9779-9781" -> { {80, 80}, {9779, 9781} }
local function parse_ranges(text)
    local ranges = {}
    for part in string.gmatch(text or "", "[^,%s]+") do
        local low, high = string.match(part, "^(%d+)-(%d+)$")
        if not low then
            low = string.match(part, "^(%d+)$")
            high = low
        end
        if low then ranges[#ranges + 1] = { tonumber(low), tonumber(high) } end
    end
    return ranges
end

local registration_ranges, state_ranges = {}, {}

local function in_ranges(ranges, port)
    for _, r in ipairs(ranges) do
        if port >= r[1] and port <= r[2] then return true end
    end
    return false
end

-- Which ranges sit in the UDP port table now, so a change can take them out.
local registered_text = nil

local function register_ports()
    local registration = vx.prefs.registration_ports or ""
    local state = vx.prefs.state_ports or ""
    registration_ranges = parse_ranges(registration)
    state_ranges = parse_ranges(state)
    local udp = DissectorTable.get("udp.port")
    if registered_text then udp:remove(registered_text, vx) end
    local parts = {}
    if registration ~= "" then parts[#parts + 1] = registration end
    if state ~= "" then parts[#parts + 1] = state end
    registered_text = #parts > 0 and table.concat(parts, ",") or nil
    if registered_text then udp:add(registered_text, vx) end
end

function vx.prefs_changed()
    register_ports()
end

local function little_endian(range, size)
    if size == ID_SIZE then return range:le_int() end
    return range:le_uint()
end

-- The dissectors below take `buf` nil for an empty datagram, which UDP never
-- hands to a port's dissector; the postdissector at the end brings those.

local function dissect_registration(buf, size, pinfo, tree)
    local text = buf and buf:raw() or ""
    if buf then tree:add(fields.request, buf(), text) else tree:add(fields.request, text) end
    if text ~= "ADDME" then
        tree:add_proto_expert_info(experts.not_addme,
            string.format("Registration of %d bytes is not exactly \"ADDME\"", size))
        pinfo.cols.info = string.format("Registration (%d bytes, not \"ADDME\")", size)
    else
        pinfo.cols.info = "Registration \"ADDME\""
    end
end

local function dissect_ack(buf, size, pinfo, tree)
    local taken = math.min(size, ID_SIZE)
    local id = 0
    if taken > 0 then
        id = little_endian(buf(0, taken), taken)
        tree:add(fields.userid, buf(0, taken), id)
    else
        tree:add(fields.userid, id)
    end
    if size > ID_SIZE then tree:add(fields.ignored, buf(ID_SIZE)) end
    if size < ID_SIZE then
        tree:add_proto_expert_info(experts.short_ack,
            string.format("ACK of %d bytes: userID %d from its low-order bytes", size, id))
    end
    pinfo.cols.info = string.format("ACK userID=%d (%d bytes)", id, size)
end

local function dissect_state(buf, size, pinfo, tree)
    local names = { fields.x, fields.y, fields.userid }
    local values = {}
    -- Whatever whole fields there are, even in a record of the wrong size.
    for i, field in ipairs(names) do
        local offset = (i - 1) * 4
        if offset + 4 > size then break end
        values[i] = buf(offset, 4):le_int()
        tree:add_le(field, buf(offset, 4))
    end
    if size > STATE_SIZE then tree:add(fields.ignored, buf(STATE_SIZE)) end
    if size ~= STATE_SIZE then
        tree:add_proto_expert_info(experts.state_size,
            string.format("State record of %d bytes, not %d", size, STATE_SIZE))
        pinfo.cols.info = string.format("State (%d bytes, not %d)", size, STATE_SIZE)
    else
        pinfo.cols.info = string.format("State X=%d Y=%d userID=%d", values[1], values[2], values[3])
    end
end

local function classify(src_port, dst_port)
    if in_ranges(registration_ranges, dst_port) then return "registration" end
    if in_ranges(registration_ranges, src_port) then return "ack" end
    if in_ranges(state_ranges, dst_port) then return "state" end
    return nil -- e.g. something sent from the state port: not a vx datagram
end

local function dissect(kind, buf, size, pinfo, root)
    pinfo.cols.protocol = "VX"
    local tree = buf and root:add(vx, buf(), "vx tanks, " .. kind) or root:add(vx, "vx tanks, " .. kind)
    tree:add(fields.kind, kind)
    tree:add(fields.length, size)
    if kind == "registration" then
        dissect_registration(buf, size, pinfo, tree)
    elseif kind == "ack" then
        dissect_ack(buf, size, pinfo, tree)
    else
        dissect_state(buf, size, pinfo, tree)
    end
end

function vx.dissector(buf, pinfo, root)
    local kind = classify(pinfo.src_port, pinfo.dst_port)
    if not kind then return 0 end
    dissect(kind, buf, buf:len(), pinfo, root)
    return buf:len()
end

-- Empty datagrams: a plain IPv4/UDP packet (not one quoted inside an ICMP
-- error) whose UDP length is just the header.
local vx_empty = Proto("vx_empty", "vx tanks empty datagrams")
local udp_length_field = Field.new("udp.length")
local ip_proto_field = Field.new("ip.proto")

function vx_empty.dissector(_, pinfo, root)
    local lengths = { udp_length_field() }
    local protos = { ip_proto_field() }
    if #lengths ~= 1 or #protos ~= 1 or protos[1].value ~= 17 or lengths[1].value ~= 8 then return end
    local kind = classify(pinfo.src_port, pinfo.dst_port)
    if kind then dissect(kind, nil, 0, pinfo, root) end
end
register_postdissector(vx_empty)

register_ports()
