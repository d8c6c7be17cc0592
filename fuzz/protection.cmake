# Fuzz targets of the protection checks: the compound-file reader with the
# Office checks on it, the ZIP walk and the PDF check.
pelorus_fuzz_target(cfb_reader SOURCE cfb_reader.cpp LIBRARIES pelorus_analysis)
pelorus_fuzz_target(zip_walk SOURCE zip_walk.cpp LIBRARIES pelorus_analysis)
pelorus_fuzz_target(pdf_check SOURCE pdf_check.cpp LIBRARIES pelorus_analysis)
