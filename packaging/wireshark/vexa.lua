-- Wireshark dissectors for Vexa network I/O modules, both on UDP port 6234:
--   VexaBoot  the bootloader's frames (SOH, payload and CRC-16 with DLE escapes, EOT) and the
--             wake string that takes a module from its application into its bootloader;
--   VexaMgmt  the application's management datagrams: read and write requests, the reply
--             with the module's identity and settings, and the identify switch.
-- Registered on port 6234 and, by their content, on any other UDP port (discovery answers
-- reach the ports the asking program chose).

local port = 6234

---------------------------------------------------------------------------------------------
-- Bootloader frames

local boot = Proto("VexaBoot", "Vexa bootloader")

local commands = { [1] = "Query", [2] = "Erase", [3] = "Program", [4] = "Verify", [5] = "Run" }
local recordTypes = {
    [0] = "Data", [1] = "End of file", [2] = "Extended segment address",
    [3] = "Start segment address", [4] = "Extended linear address", [5] = "Start linear address",
}

local bf = {
    wake = ProtoField.string("vexaboot.wake", "Wake string"),
    direction = ProtoField.string("vexaboot.direction", "Direction"),
    command = ProtoField.uint8("vexaboot.command", "Command", base.DEC, commands),
    crc = ProtoField.uint16("vexaboot.crc", "Frame CRC-16", base.HEX),
    crcStatus = ProtoField.string("vexaboot.crc.status", "Frame CRC status"),
    decodedLength = ProtoField.uint16("vexaboot.length", "Decoded length", base.DEC),
    records = ProtoField.uint8("vexaboot.records", "Records", base.DEC),
    record = ProtoField.bytes("vexaboot.record", "Record"),
    recordLength = ProtoField.uint8("vexaboot.record.length", "Data length", base.DEC),
    recordAddress = ProtoField.uint16("vexaboot.record.address", "Load offset", base.HEX),
    recordType = ProtoField.uint8("vexaboot.record.type", "Record type", base.DEC, recordTypes),
    recordData = ProtoField.bytes("vexaboot.record.data", "Data"),
    recordChecksum = ProtoField.uint8("vexaboot.record.checksum", "Record checksum", base.HEX),
    verifyStart = ProtoField.uint32("vexaboot.verify.start", "Start address", base.HEX),
    verifyLength = ProtoField.uint32("vexaboot.verify.length", "Length", base.DEC),
    verifyCrc = ProtoField.uint16("vexaboot.verify.crc", "Image CRC-16", base.HEX),
    moduleCrc = ProtoField.uint16("vexaboot.reply.crc", "Module's CRC-16", base.HEX),
    replyData = ProtoField.bytes("vexaboot.reply.data", "Reply data"),
}
boot.fields = bf

local be = {
    badCrc = ProtoExpert.new("vexaboot.crc.bad", "Frame CRC-16 does not match",
        expert.group.CHECKSUM, expert.severity.ERROR),
    malformed = ProtoExpert.new("vexaboot.malformed", "Malformed bootloader frame",
        expert.group.MALFORMED, expert.severity.ERROR),
}
boot.experts = be

-- CRC-16/XMODEM (polynomial 0x1021, initial 0), as the module computes it.
local function crc16(bytes)
    local crc = 0
    for i = 1, #bytes do
        crc = bit32.bxor(crc, bit32.lshift(bytes[i], 8))
        for _ = 1, 8 do
            if bit32.band(crc, 0x8000) ~= 0 then
                crc = bit32.band(bit32.bxor(bit32.lshift(crc, 1), 0x1021), 0xFFFF)
            else
                crc = bit32.band(bit32.lshift(crc, 1), 0xFFFF)
            end
        end
    end
    return crc
end

-- The payload and CRC bytes of the frame in the buffer, unescaped; nil and why when there is
-- no whole frame.
local function unescape(buffer)
    local bytes, started, escaped = {}, false, false
    for i = 0, buffer:len() - 1 do
        local byte = buffer(i, 1):uint()
        if escaped then
            bytes[#bytes + 1] = byte
            escaped = false
        elseif byte == 0x01 then
            bytes, started = {}, true
        elseif byte == 0x10 then
            escaped = true
        elseif byte == 0x04 then
            if not started then
                return nil, "no SOH before EOT"
            end
            return bytes
        else
            bytes[#bytes + 1] = byte
        end
    end
    return nil, started and "no EOT" or "no SOH"
end

local function le(bytes, at, count)
    local value = 0
    for i = count - 1, 0, -1 do
        value = value * 256 + (bytes[at + i] or 0)
    end
    return value
end

local function bytesOf(list, first, last)
    local out = ByteArray.new()
    out:set_size(math.max(0, last - first + 1))
    for i = first, last do
        out:set_index(i - first, list[i])
    end
    return out
end

-- The records of a Program frame, each as the HEX file's line holds it.
local function addRecords(tree, bytes)
    local at, count, info = 2, 0, nil
    local last = #bytes - 2 -- before the frame's CRC
    while at <= last do
        local length = bytes[at]
        local size = 5 + length
        if at + size - 1 > last then
            tree:add_proto_expert_info(be.malformed, "record " .. (count + 1) .. " is cut short")
            break
        end
        count = count + 1
        local record = tree:add(bf.record, bytesOf(bytes, at, at + size - 1):tvb("Record")())
        record:set_text(string.format("Record %d: %s, offset 0x%04X, %d bytes", count,
            recordTypes[bytes[at + 3]] or ("type " .. bytes[at + 3]),
            bytes[at + 1] * 256 + bytes[at + 2], length))
        record:add(bf.recordLength, length)
        record:add(bf.recordAddress, bytes[at + 1] * 256 + bytes[at + 2])
        record:add(bf.recordType, bytes[at + 3])
        if length > 0 then
            record:add(bf.recordData, bytesOf(bytes, at + 4, at + 3 + length):tvb("Data")())
        end
        record:add(bf.recordChecksum, bytes[at + 4 + length])
        if info == nil then
            info = string.format("offset 0x%04X", bytes[at + 1] * 256 + bytes[at + 2])
        end
        at = at + size
    end
    tree:add(bf.records, count)
    return string.format("%d records%s", count, info and (", first at " .. info) or "")
end

local function dissectBoot(buffer, pinfo, tree, toModule)
    pinfo.cols.protocol = "VexaBoot"
    local subtree = tree:add(boot, buffer(), "Vexa bootloader")
    subtree:add(bf.direction, toModule and "to the module" or "from the module")
    if buffer:len() == 5 and buffer():string() == "70814" then
        subtree:add(bf.wake, buffer())
        pinfo.cols.info = "Wake string \"70814\""
        return
    end
    local bytes, why = unescape(buffer)
    if bytes == nil or #bytes < 3 then
        subtree:add_proto_expert_info(be.malformed, why or "fewer than three bytes in the frame")
        pinfo.cols.info = "Malformed bootloader frame (" .. (why or "too short") .. ")"
        return
    end
    local command = bytes[1]
    local name = commands[command] or ("command " .. command)
    subtree:add(bf.command, command)
    subtree:add(bf.decodedLength, #bytes)
    local sent = le(bytes, #bytes - 1, 2)
    local computed = crc16({ table.unpack(bytes, 1, #bytes - 2) })
    local crcItem = subtree:add(bf.crc, sent)
    if sent == computed then
        subtree:add(bf.crcStatus, "good")
    else
        subtree:add(bf.crcStatus, "bad")
        crcItem:add_proto_expert_info(be.badCrc,
            string.format("frame CRC-16 0x%04X does not match its bytes' 0x%04X", sent, computed))
    end
    local info
    if toModule then
        info = name
        if command == 3 then
            info = info .. ": " .. addRecords(subtree, bytes)
        elseif command == 4 then
            if #bytes < 13 then
                subtree:add_proto_expert_info(be.malformed, "Verify holds fewer than 10 bytes")
            else
                local start, length, crc = le(bytes, 2, 4), le(bytes, 6, 4), le(bytes, 10, 2)
                subtree:add(bf.verifyStart, start)
                subtree:add(bf.verifyLength, length)
                subtree:add(bf.verifyCrc, crc)
                info = string.format("%s start 0x%08X, length %d, CRC-16 0x%04X", info, start,
                    length, crc)
            end
        end
    else
        info = "Reply to " .. name
        if #bytes > 3 then
            subtree:add(bf.replyData, bytesOf(bytes, 2, #bytes - 2):tvb("Reply data")())
        end
        if command == 4 and #bytes >= 5 then
            subtree:add(bf.moduleCrc, le(bytes, 2, 2))
            info = string.format("%s: module's CRC-16 0x%04X", info, le(bytes, 2, 2))
        end
    end
    if sent ~= computed then
        info = info .. " [bad CRC]"
    end
    pinfo.cols.info = info
end

---------------------------------------------------------------------------------------------
-- Management datagrams

local mgmt = Proto("VexaMgmt", "Vexa module management")

local mf = {
    kind = ProtoField.string("vexamgmt.kind", "Datagram"),
    magic = ProtoField.bytes("vexamgmt.magic", "Magic"),
    opcode = ProtoField.string("vexamgmt.opcode", "Opcode"),
    recordLength = ProtoField.uint32("vexamgmt.record_length", "Record length", base.DEC),
    address = ProtoField.ipv4("vexamgmt.address", "Address"),
    mask = ProtoField.ipv4("vexamgmt.mask", "Subnet mask"),
    mac = ProtoField.ether("vexamgmt.mac", "MAC"),
    identification = ProtoField.string("vexamgmt.identification", "Identification"),
    dhcp = ProtoField.uint16("vexamgmt.dhcp", "DHCP flags", base.HEX),
    dhcpOn = ProtoField.bool("vexamgmt.dhcp.on", "DHCP on"),
    version = ProtoField.string("vexamgmt.version", "Version"),
    name = ProtoField.string("vexamgmt.name", "Name"),
    pid = ProtoField.uint16("vexamgmt.pid", "USB product ID", base.HEX),
    receptionPort = ProtoField.uint16("vexamgmt.port", "Reception port", base.DEC),
    marker = ProtoField.bytes("vexamgmt.marker", "Settings marker"),
    identState = ProtoField.uint8("vexamgmt.identify.state", "Identify", base.DEC,
        { [0] = "off", [1] = "on" }),
    identCode = ProtoField.string("vexamgmt.identify.code", "Identify code"),
}
mgmt.fields = mf

local me = {
    malformed = ProtoExpert.new("vexamgmt.malformed", "Malformed management datagram",
        expert.group.MALFORMED, expert.severity.ERROR),
}
mgmt.experts = me

-- Text of fixed fields: cut at its first zero byte.
local function cutAtZero(text)
    local zero = text:find("\0", 1, true)
    return zero and text:sub(1, zero - 1) or text
end

local function fixedText(range)
    return cutAtZero(range:raw())
end

-- Says so when the datagram is shorter than the layout needs; true when it is whole.
local function whole(buffer, subtree, pinfo, needed, what)
    if buffer:len() >= needed then
        return true
    end
    subtree:add_proto_expert_info(me.malformed,
        string.format("%s of %d bytes, %d expected", what, buffer:len(), needed))
    pinfo.cols.info = string.format("Malformed %s (%d of %d bytes)", what, buffer:len(), needed)
    return false
end

local function dissectReply(buffer, pinfo, subtree)
    subtree:add(mf.kind, "reply")
    if not whole(buffer, subtree, pinfo, 65, "reply") then
        return
    end
    local identification = cutAtZero(buffer(23, 8):raw() .. buffer(59, 6):raw())
    local name, version = fixedText(buffer(41, 8)), fixedText(buffer(33, 8))
    subtree:add(mf.address, buffer(9, 4))
    subtree:add(mf.mask, buffer(13, 4))
    subtree:add(mf.mac, buffer(17, 6))
    subtree:add(mf.identification, buffer(23, 8), identification)
    subtree:add(mf.dhcp, buffer(31, 2))
    subtree:add(mf.dhcpOn, buffer(32, 1), bit32.band(buffer(32, 1):uint(), 0x11) ~= 0)
    subtree:add(mf.version, buffer(33, 8), version)
    subtree:add(mf.name, buffer(41, 8), name)
    subtree:add(mf.pid, buffer(49, 2))
    subtree:add(mf.receptionPort, buffer(51, 2))
    local mac = {}
    for i = 0, 5 do
        mac[#mac + 1] = string.format("%02X", buffer(17 + i, 1):uint())
    end
    pinfo.cols.info = string.format("Reply: %s %s at %s, MAC %s", name, version,
        tostring(buffer(9, 4):ipv4()), table.concat(mac, "-"))
end

local function dissectRequest(buffer, pinfo, subtree)
    local opcode = buffer(4, 1):string()
    subtree:add(mf.opcode, buffer(4, 1))
    if opcode == "R" then
        subtree:add(mf.kind, "read request")
        pinfo.cols.info = "Read request"
        whole(buffer, subtree, pinfo, 73, "read request")
        return
    end
    if opcode ~= "W" then
        subtree:add_proto_expert_info(me.malformed, "unknown opcode " .. opcode)
        pinfo.cols.info = "Request with unknown opcode"
        return
    end
    subtree:add(mf.kind, "write request")
    if not whole(buffer, subtree, pinfo, 73, "write request") then
        return
    end
    local identification = buffer(23, 8):raw() .. buffer(59, 5):raw()
    subtree:add_le(mf.recordLength, buffer(5, 4))
    subtree:add(mf.address, buffer(9, 4))
    subtree:add(mf.mask, buffer(13, 4))
    subtree:add(mf.identification, buffer(23, 8), identification)
    subtree:add_le(mf.dhcp, buffer(31, 2))
    subtree:add(mf.dhcpOn, buffer(31, 1), buffer(31, 1):uint() == 17)
    subtree:add_le(mf.pid, buffer(49, 2))
    subtree:add_le(mf.receptionPort, buffer(51, 2))
    subtree:add(mf.marker, buffer(55, 4))
    pinfo.cols.info = string.format("Write request: %s/%s, DHCP %s, \"%s\"",
        tostring(buffer(9, 4):ipv4()), tostring(buffer(13, 4):ipv4()),
        buffer(31, 1):uint() == 17 and "on" or "off", identification)
end

local function dissectManagement(buffer, pinfo, tree)
    pinfo.cols.protocol = "VexaMgmt"
    local subtree = tree:add(mgmt, buffer(), "Vexa module management")
    if not whole(buffer, subtree, pinfo, 5, "datagram") then
        return
    end
    subtree:add(mf.magic, buffer(0, 4))
    local third = buffer(2, 1):uint()
    if third == 0x20 then
        dissectReply(buffer, pinfo, subtree)
    elseif buffer(4, 1):uint() == 0x49 then
        subtree:add(mf.kind, "identify")
        subtree:add(mf.identState, buffer(3, 1))
        if whole(buffer, subtree, pinfo, 10, "identify datagram") then
            subtree:add(mf.identCode, buffer(5, 5))
            pinfo.cols.info = "Identify " .. (buffer(3, 1):uint() == 1 and "on" or "off")
        end
    else
        dissectRequest(buffer, pinfo, subtree)
    end
end

---------------------------------------------------------------------------------------------
-- Which of the two a datagram is

local function isManagement(buffer)
    return buffer:len() >= 3 and buffer(0, 2):uint() == 0xCAFE and
        (buffer(2, 1):uint() == 0x10 or buffer(2, 1):uint() == 0x20)
end

local function dissect(buffer, pinfo, tree)
    if isManagement(buffer) then
        dissectManagement(buffer, pinfo, tree)
    else
        dissectBoot(buffer, pinfo, tree, pinfo.dst_port == port)
    end
    return buffer:len()
end

function boot.dissector(buffer, pinfo, tree)
    return dissect(buffer, pinfo, tree)
end

-- On other ports only what is unmistakably one of the two: the management magic, the wake
-- string, or a whole frame whose CRC matches.
local function heuristic(buffer, pinfo, tree)
    if isManagement(buffer) then
        dissectManagement(buffer, pinfo, tree)
        return true
    end
    if buffer:len() == 5 and buffer():string() == "70814" then
        dissectBoot(buffer, pinfo, tree, true)
        return true
    end
    if buffer:len() >= 5 and buffer(0, 1):uint() == 0x01 then
        local bytes = unescape(buffer)
        if bytes ~= nil and #bytes >= 3 and
            crc16({ table.unpack(bytes, 1, #bytes - 2) }) == le(bytes, #bytes - 1, 2) then
            dissectBoot(buffer, pinfo, tree, pinfo.src_port ~= port)
            return true
        end
    end
    return false
end

DissectorTable.get("udp.port"):add(port, boot)
boot:register_heuristic("udp", heuristic)
