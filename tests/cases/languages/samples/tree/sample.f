C comment
      X = 'it''s ! no'
* c
      END ! c
