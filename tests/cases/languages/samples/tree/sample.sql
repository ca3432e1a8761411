-- c
SELECT '-- no', 'it''s' /* c
still */ FROM t;
