// c
const a = <p>Don't {/* c */}</p>;
const s = '/* no';
{/* c */}
