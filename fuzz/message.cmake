# Fuzz targets of message analysis: the header parser fed in blocks,
# encoded words and parameters, both Base64 decoders, and the attachment
# walk over a spool file (with the protection checks behind it).
pelorus_fuzz_target(header_parser SOURCE header_parser.cpp LIBRARIES pelorus_analysis)
pelorus_fuzz_target(decode_words SOURCE decode_words.cpp LIBRARIES pelorus_analysis)
pelorus_fuzz_target(base64 SOURCE base64.cpp LIBRARIES pelorus_analysis)
pelorus_fuzz_target(attachment_walk SOURCE attachment_walk.cpp LIBRARIES pelorus_analysis)
# To and Cc texts: the recipient rows' tokens and the address each is
# judged by, also after the address list decoder.
pelorus_fuzz_target(addresses SOURCE addresses.cpp LIBRARIES pelorus_relay)
