# Fuzz targets of the relay: the client command grammar against a lenient
# server's reading, and the server reply reader fed in arbitrary pieces.
pelorus_fuzz_target(command_line SOURCE command_line.cpp LIBRARIES pelorus_relay)
pelorus_fuzz_target(reply_reader SOURCE reply_reader.cpp LIBRARIES pelorus_relay)
