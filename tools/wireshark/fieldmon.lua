-- fieldmon.lua: Wireshark and tshark dissector of the field devices' UDP
-- protocol (discovery, presence, events, commands, variable requests and
-- replies). Load it by hand with
--
--     wireshark -X lua_script:tools/wireshark/fieldmon.lua capture.pcapng
--     tshark -X lua_script:tools/wireshark/fieldmon.lua -r capture.pcapng -Y 'fieldmon.serial == "1207"'
--
-- or copy it into Wireshark's plugin folder (cmake --install does). It takes
-- UDP ports 10023 (devices to the app) and 10024 (the app to devices), and
-- other UDP ports by heuristic. The ui.xml and picture transfers are HTTP,
-- which Wireshark decodes itself.
--
-- Every datagram's first byte is its kind:
--   app to device   H search, h search (repeat), F presence probe,
--                   s acknowledgement of an announcement, E detail screen shown,
--                   c command text, v address request, a value request
--   device to app   m announcement, i presence answer, e event,
--                   V address reply, A value reply, f (ignored by the app)
-- A datagram that breaks its kind's layout is marked with the expert info
-- "malformed" (filter: fieldmon.malformed); the script never stops on one.

local fieldmon = Proto("fieldmon", "fieldmon field device protocol")

local kinds = {
    [0x48] = "Search",                         -- H
    [0x68] = "Search (repeat)",                -- h
    [0x46] = "Presence probe",                 -- F
    [0x73] = "Announcement acknowledged",      -- s
    [0x45] = "Detail screen shown",            -- E
    [0x63] = "Command",                        -- c
    [0x76] = "Address request",                -- v
    [0x61] = "Value request",                  -- a
    [0x6d] = "Announcement",                   -- m
    [0x69] = "Presence answer",                -- i
    [0x65] = "Event",                          -- e
    [0x56] = "Address reply",                  -- V
    [0x41] = "Value reply",                    -- A
    [0x66] = "Ignored (f)",                    -- f
}

local single = { [0x48] = true, [0x68] = true, [0x46] = true, [0x73] = true, [0x45] = true, [0x69] = true }

local f = {
    kind = ProtoField.uint8("fieldmon.kind", "Kind", base.HEX, kinds),
    platform = ProtoField.string("fieldmon.platform", "Platform"),
    type = ProtoField.string("fieldmon.type", "Type"),
    name = ProtoField.string("fieldmon.name", "Name"),
    version = ProtoField.string("fieldmon.version", "Version"),
    serial = ProtoField.string("fieldmon.serial", "Serial number"),
    service = ProtoField.string("fieldmon.service", "Service mode"),
    extra = ProtoField.string("fieldmon.extra", "Fields past the sixth (ignored)"),
    command = ProtoField.string("fieldmon.command", "Command"),
    event = ProtoField.string("fieldmon.event", "Event line"),
    stamp = ProtoField.string("fieldmon.event.stamp", "Time stamp"),
    text = ProtoField.string("fieldmon.event.text", "Event text"),
    request_id = ProtoField.string("fieldmon.request_id", "Request id"),
    items = ProtoField.uint32("fieldmon.items", "Items"),
    item = ProtoField.bytes("fieldmon.item", "Item"),
    index = ProtoField.uint32("fieldmon.item.index", "First variable index (low byte)"),
    variables = ProtoField.uint32("fieldmon.item.variables", "Variables"),
    count = ProtoField.uint32("fieldmon.item.count", "Bytes asked for"),
    address = ProtoField.uint32("fieldmon.item.address", "Address", base.HEX),
    size = ProtoField.uint32("fieldmon.item.size", "Bytes asked for"),
    payload = ProtoField.bytes("fieldmon.payload", "Payload"),
    payload_length = ProtoField.uint32("fieldmon.payload.length", "Payload length"),
    reply_address = ProtoField.uint32("fieldmon.payload.address", "Variable address", base.HEX),
    closing = ProtoField.uint8("fieldmon.closing", "Closing byte", base.HEX),
    trailing = ProtoField.bytes("fieldmon.trailing", "Bytes after the kind (not expected)"),
}
local field_list = {}
for _, v in pairs(f) do field_list[#field_list + 1] = v end
fieldmon.fields = field_list

local malformed = ProtoExpert.new("fieldmon.malformed", "malformed", expert.group.MALFORMED, expert.severity.ERROR)
fieldmon.experts = { malformed }

local function mark(tree, why)
    tree:add_proto_expert_info(malformed, "malformed: " .. why)
end

local function is_digit(b) return b >= 0x30 and b <= 0x39 end
local function hex_value(b)
    if b >= 0x30 and b <= 0x39 then return b - 0x30 end
    if b >= 0x61 and b <= 0x66 then return b - 0x61 + 10 end
    if b >= 0x41 and b <= 0x46 then return b - 0x41 + 10 end
    return nil
end

-- Reads the items of an address request ("v"): one character (65 + low byte
-- of the first index), then the byte count in decimal. Returns a list of
-- {start, length, index, count}, and a reason when an item is broken.
local function address_items(tvb, from)
    local items, pos, n = {}, from, tvb:len()
    while pos < n do
        local start = pos
        local index = (tvb(pos, 1):uint() - 65) % 256
        pos = pos + 1
        local count, digits = 0, 0
        while pos < n and is_digit(tvb(pos, 1):uint()) and digits < 12 do
            count = count * 10 + tvb(pos, 1):uint() - 0x30
            pos, digits = pos + 1, digits + 1
        end
        if digits == 0 then
            return items, "no byte count after the index at byte " .. start
        end
        items[#items + 1] = { start = start, length = pos - start, index = index, count = count }
    end
    return items
end

-- Reads the items of a value request ("a"): 8 hexadecimal digits of the
-- address, then one character (65 + number of bytes).
local function value_items(tvb, from)
    local items, pos, n = {}, from, tvb:len()
    while pos < n do
        if n - pos < 9 then
            return items, "short item at byte " .. pos
        end
        local address = 0
        for i = 0, 7 do
            local h = hex_value(tvb(pos + i, 1):uint())
            if not h then
                return items, "bad address digits at byte " .. pos
            end
            address = address * 16 + h
        end
        local size = (tvb(pos + 8, 1):uint() - 65) % 256
        items[#items + 1] = { start = pos, length = 9, address = address, size = size }
        pos = pos + 9
    end
    return items
end

local function request_id(tvb, tree)
    local id = tvb(1, 1)
    tree:add(f.request_id, id)
    return id:string()
end

local function dissect_announcement(tvb, pinfo, tree)
    local names = { f.platform, f.type, f.name, f.version, f.serial, f.service }
    local n, field, start = tvb:len(), 1, 1
    local values = {}
    for pos = 1, n do
        local last = pos == n
        local b = not last and tvb(pos, 1):uint() or nil
        if last or b == 0x3b or b == 0 then -- ';' or a 0 byte ends a field
            local length = pos - start
            if field <= 6 then
                local range = length > 0 and tvb(start, length) or tvb(start, 0)
                tree:add(names[field], range, length > 0 and range:string() or "")
                values[field] = length > 0 and range:string() or ""
            else
                tree:add(f.extra, tvb(start, n - start))
                break
            end
            field, start = field + 1, pos + 1
            if b == 0 then break end
        end
    end
    pinfo.cols.info:set(string.format("Announcement %s (%s), %s %s", values[3] or "", values[5] or "",
        values[1] or "", values[2] or ""))
end

local function dissect_event(tvb, pinfo, tree)
    local n = tvb:len()
    if n == 1 then
        tree:add(f.event, tvb(1, 0), "")
        pinfo.cols.info:set("Event (empty)")
        return
    end
    local line = tvb(1, n - 1)
    tree:add(f.event, line)
    local text = line:string()
    -- hh:mm:ss and a blank: the stamp the app recognises.
    if n - 1 >= 9 and text:sub(3, 3) == ":" and text:sub(6, 6) == ":" and text:sub(9, 9) == " " then
        tree:add(f.stamp, tvb(1, 8))
        tree:add(f.text, tvb(10, n - 10), n > 10 and tvb(10, n - 10):string() or "")
    else
        tree:add(f.text, line)
    end
    pinfo.cols.info:set("Event " .. text)
end

local function dissect_request(tvb, pinfo, tree, kind)
    if tvb:len() < 2 then
        mark(tree, "a request without its id")
        pinfo.cols.info:set(kinds[kind] .. " without an id")
        return
    end
    local id = request_id(tvb, tree)
    local items, broken
    if kind == 0x76 then
        items, broken = address_items(tvb, 2)
    else
        items, broken = value_items(tvb, 2)
    end
    tree:add(f.items, tvb(0), #items):set_generated()
    for i, item in ipairs(items) do
        local t = tree:add(f.item, tvb(item.start, item.length))
        if kind == 0x76 then
            t:set_text(string.format("Item %d: variables from index %d, %d bytes", i, item.index, item.count))
            t:add(f.index, tvb(item.start, 1), item.index)
            t:add(f.count, tvb(item.start + 1, item.length - 1), item.count)
            t:add(f.variables, tvb(item.start, item.length), math.floor(item.count / 4)):set_generated()
        else
            t:set_text(string.format("Item %d: %d bytes at 0x%08x", i, item.size, item.address))
            t:add(f.address, tvb(item.start, 8), item.address)
            t:add(f.size, tvb(item.start + 8, 1), item.size)
        end
    end
    if broken then
        mark(tree, broken)
    end
    pinfo.cols.info:set(string.format("%s %s, %d item%s", kinds[kind], id, #items, #items == 1 and "" or "s"))
end

local function dissect_reply(tvb, pinfo, tree, kind)
    local n = tvb:len()
    if n < 3 then
        mark(tree, "a reply needs its id and closing byte (" .. n .. " bytes)")
        pinfo.cols.info:set(kinds[kind] .. ", too short")
        return
    end
    local id = request_id(tvb, tree)
    local length = n - 3
    tree:add(f.payload_length, tvb(2, length), length):set_generated()
    if length > 0 then
        local p = tree:add(f.payload, tvb(2, length))
        if kind == 0x56 then
            for at = 2, n - 5, 4 do
                p:add_le(f.reply_address, tvb(at, 4))
            end
        end
    end
    tree:add(f.closing, tvb(n - 1, 1))
    pinfo.cols.info:set(string.format("%s %s, %d payload bytes", kinds[kind], id, length))
end

local function dissect(tvb, pinfo, tree)
    pinfo.cols.protocol:set("FIELDMON")
    local n = tvb:len()
    local root = tree:add(fieldmon, tvb(0))
    if n == 0 then
        mark(root, "an empty datagram")
        pinfo.cols.info:set("Empty datagram")
        return
    end
    local kind = tvb(0, 1):uint()
    root:add(f.kind, tvb(0, 1))
    local name = kinds[kind]
    if not name then
        mark(root, string.format("unknown kind 0x%02x", kind))
        pinfo.cols.info:set(string.format("Unknown kind 0x%02x, %d bytes", kind, n))
        return
    end
    root:append_text(": " .. name)
    if single[kind] then
        pinfo.cols.info:set(name)
        if n > 1 then
            root:add(f.trailing, tvb(1, n - 1))
            mark(root, name .. " is one byte, this one has " .. n)
        end
    elseif kind == 0x6d then
        dissect_announcement(tvb, pinfo, root)
    elseif kind == 0x65 then
        dissect_event(tvb, pinfo, root)
    elseif kind == 0x63 then
        local text = n > 1 and tvb(1, n - 1) or tvb(1, 0)
        root:add(f.command, text, n > 1 and text:string() or "")
        pinfo.cols.info:set("Command " .. (n > 1 and text:string():gsub("[\r\n]+$", "") or ""))
    elseif kind == 0x76 or kind == 0x61 then
        dissect_request(tvb, pinfo, root, kind)
    elseif kind == 0x56 or kind == 0x41 then
        dissect_reply(tvb, pinfo, root, kind)
    else -- f
        pinfo.cols.info:set(name)
    end
end

function fieldmon.dissector(tvb, pinfo, tree)
    local ok, err = pcall(dissect, tvb, pinfo, tree)
    if not ok then
        -- A datagram the code above did not foresee: marked, never a Lua error.
        local root = tree:add(fieldmon, tvb(0))
        mark(root, tostring(err))
    end
    return tvb:len()
end

-- The heuristic for other ports takes only datagrams whose layout holds
-- completely, so that other protocols' traffic is left alone.
local function looks_like_fieldmon(tvb)
    local n = tvb:len()
    if n == 0 then return false end
    local kind = tvb(0, 1):uint()
    if single[kind] then return n == 1 end
    if kind == 0x6d then
        local text = tvb(1, n - 1):string()
        local _, separators = text:gsub(";", "")
        return separators >= 4 and separators <= 8 and not text:find("[%c]")
    end
    if kind == 0x76 or kind == 0x61 then
        if n < 2 then return false end
        local id = tvb(1, 1):uint()
        if id < 97 or id > 124 then return false end
        local items, broken
        if kind == 0x76 then items, broken = address_items(tvb, 2) else items, broken = value_items(tvb, 2) end
        return not broken
    end
    if kind == 0x56 or kind == 0x41 then
        if n < 3 then return false end
        local id = tvb(1, 1):uint()
        return id >= 97 and id <= 124 and tvb(n - 1, 1):uint() == 0
    end
    if kind == 0x65 then
        local text = n > 1 and tvb(1, n - 1):string() or ""
        return text:match("^%d%d:%d%d:%d%d ") ~= nil and not text:find("[%c]")
    end
    if kind == 0x63 then
        local text = n > 1 and tvb(1, n - 1):string() or ""
        return text:match("^[%g ]+\r?\n$") ~= nil
    end
    return false
end

local function heuristic(tvb, pinfo, tree)
    local ok, yes = pcall(looks_like_fieldmon, tvb)
    if not ok or not yes then return false end
    fieldmon.dissector(tvb, pinfo, tree)
    return true
end

local udp_port = DissectorTable.get("udp.port")
udp_port:add(10023, fieldmon)
udp_port:add(10024, fieldmon)
fieldmon:register_heuristic("udp", heuristic)
