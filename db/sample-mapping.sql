-- Equipment mapping of the sample station (station/): which reported value
-- goes into which measurement table and column, for which equipment.
--
-- paramindex is the MMS reference of the value leaf as the program's
-- "参引入库" import enters it: LDname/LNname$FC$DO$DA... with LDname = IED
-- name + ldInst.  objid is filled by that import (the stack's identifiers
-- depend on the loaded model); this file sets the columns the import leaves
-- alone.  Rows are upserted, so the file can be loaded before or after an
-- import, and again.
--
-- eqmid numbers the monitored equipment of the sample station:
--   1 main transformer T1        (oil gases, core grounding current)
--   2 GIS bay 1 SF6 compartment  (SF6, partial discharge)
--   3 arrester of line 1, phase A
--   4 station micro-climate
--   5 bushing of T1               (insulation)
--   6 breaker of bay 1            (mechanism)
--   7 busbar joints of bay 1      (temperatures)

INSERT INTO rptparamindex (paramindex, eqmid, tablename, colname) VALUES
  ('PLACEHOLDER/SIMG1$MX$Pres$mag$f', 2, 'data_sf6_h', 'pres')
ON DUPLICATE KEY UPDATE eqmid = VALUES(eqmid), tablename = VALUES(tablename),
  colname = VALUES(colname);
