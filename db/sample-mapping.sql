-- Equipment mapping of the sample station (station/sample.scd): which
-- reported value goes into which measurement table and column, for which
-- equipment.
--
-- paramindex is the MMS reference of the value leaf as the program's
-- "参引入库" import enters it: LDname/LNname$FC$DO$DA... with LDname = IED
-- name + ldInst and LNname = prefix + lnClass + inst.  objid is filled by
-- that import (the stack's identifiers depend on the loaded model); this
-- file sets the columns the import leaves alone.  Rows are upserted, so the
-- file can be loaded before or after an import, and again.
--
-- The archiving takes a value's time from the "t" of its data object
-- (LDname/LNname$FC$DO$t).  The sheath currents are phases of a WYE object,
-- whose time stamps sit one level deeper (…$ShthA$phsA$t): those three rows
-- are mapped for completeness but are not archived.
--
-- eqmid numbers the monitored equipment of the sample station (all values
-- come from IED CMIED, logical device MON):
--   1  main transformer T1           temperatures            data_etp_h
--   2  GIS gas compartment            SF6, partial discharge  data_sf6_h, data_pd_h
--   3  surge arrester, phase A        leakage, strikes        data_moa_h
--   4  station weather                micro-climate           data_microclimate_h
--   5  capacitive equipment           insulation              data_eia_h
--   6  cable                          sheath currents         data_scur_h

INSERT INTO rptparamindex (paramindex, eqmid, tablename, colname) VALUES
  ('CMIEDMON/STMP1$MX$Tmp$mag$f',                1, 'data_etp_h',          'toptmp'),
  ('CMIEDMON/STMP2$MX$Tmp$mag$f',                1, 'data_etp_h',          'wdgtmp'),
  ('CMIEDMON/STMP3$MX$Tmp$mag$f',                1, 'data_etp_h',          'envtmp'),
  ('CMIEDMON/SIMG1$MX$Pres$mag$f',               2, 'data_sf6_h',          'pres'),
  ('CMIEDMON/SIMG1$MX$Den$mag$f',                2, 'data_sf6_h',          'den'),
  ('CMIEDMON/SIMG1$MX$Tmp$mag$f',                2, 'data_sf6_h',          'tmp'),
  ('CMIEDMON/SPDC1$MX$AcuPaDsch$mag$f',          2, 'data_pd_h',           'acupadsch'),
  ('CMIEDMON/SPDC1$ST$OpCnt$stVal',              2, 'data_pd_h',           'opcnt'),
  ('CMIEDMON/SPDC1$ST$PaDschAlm$stVal',          2, 'data_pd_h',           'padschalm'),
  ('CMIEDMON/ZSAR1$MX$LeakA$mag$f',              3, 'data_moa_h',          'leaka'),
  ('CMIEDMON/ZSAR1$ST$StrkCnt$stVal',            3, 'data_moa_h',          'strkcnt'),
  ('CMIEDMON/ZSAR1$ST$LstStrkTm$stVal',          3, 'data_moa_h',          'lastligtm'),
  ('CMIEDMON/MMET1$MX$EnvTmp$mag$f',             4, 'data_microclimate_h', 'envtmp'),
  ('CMIEDMON/MMET1$MX$EnvHum$mag$f',             4, 'data_microclimate_h', 'envhum'),
  ('CMIEDMON/MMET1$MX$EnvPres$mag$f',            4, 'data_microclimate_h', 'envpres'),
  ('CMIEDMON/MMET1$MX$WnSpd$mag$f',              4, 'data_microclimate_h', 'wnspd'),
  ('CMIEDMON/InsGGIO1$MX$DieLoss$mag$f',         5, 'data_eia_h',          'dieloss'),
  ('CMIEDMON/InsGGIO1$MX$CapVal$mag$f',          5, 'data_eia_h',          'capval'),
  ('CMIEDMON/InsGGIO1$MX$LeakA$mag$f',           5, 'data_eia_h',          'leaka'),
  ('CMIEDMON/ShthGGIO1$MX$ShthA$phsA$cVal$mag$f', 6, 'data_scur_h',         'phsa'),
  ('CMIEDMON/ShthGGIO1$MX$ShthA$phsB$cVal$mag$f', 6, 'data_scur_h',         'phsb'),
  ('CMIEDMON/ShthGGIO1$MX$ShthA$phsC$cVal$mag$f', 6, 'data_scur_h',         'phsc')
ON DUPLICATE KEY UPDATE eqmid = VALUES(eqmid), tablename = VALUES(tablename),
  colname = VALUES(colname);
